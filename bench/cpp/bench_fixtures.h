// What the C++ figures stand on: a fake sysfs tree of usblp printers in a
// temporary folder (as the linux backend's tests lay one out), and ptys whose
// master side plays the printer.
#pragma once

#include <cstdint>
#include <string>

namespace zelp::bench {

// The model the device list is asked for ("4660", "22136") and another one.
inline constexpr const char* kListedVendorHex = "1234";
inline constexpr const char* kListedProductHex = "5678";
inline constexpr const char* kListedVendorText = "4660";
inline constexpr const char* kListedProductText = "22136";
inline constexpr const char* kOtherVendorHex = "04b8";
inline constexpr const char* kOtherProductHex = "0202";

class FakeUsbTree {
public:
    FakeUsbTree();
    ~FakeUsbTree();
    FakeUsbTree(const FakeUsbTree&) = delete;
    FakeUsbTree& operator=(const FakeUsbTree&) = delete;

    // usblp printer lpN with these ids and serial; its /dev node links to `node`.
    void AddPrinter(unsigned number, const char* vendorHex, const char* productHex,
                    const std::string& serial, const std::string& node);
    // A regular file in the tree, to stand in for a device node that always
    // takes what is written and reads as empty.
    std::string AddFileNode(const std::string& name);
    // A node of the null device's driver with an inode of its own (so that
    // no lock on /dev/null stands in the way): takes every byte at once and
    // dirties no page cache. A regular file where nodes cannot be made.
    std::string AddNullNode(const std::string& name);

    std::string SysRoot() const { return m_strRoot + "/sys"; }
    std::string DevRoot() const { return m_strRoot + "/dev"; }

private:
    std::string m_strRoot;
};

// A tree of `count` printers with numeric serials, five of them of the listed
// model spread over the numbers and the rest of the other model, each node a
// regular file.
void LayOutListTree(FakeUsbTree& tree, unsigned count);

class PtyPeer {
public:
    PtyPeer();
    ~PtyPeer();
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    const std::string& SlavePath() const { return m_strSlave; }
    bool IsValid() const { return m_master >= 0 && !m_strSlave.empty(); }
    // Reads and drops whatever is waiting now; returns how many bytes.
    size_t Discard();

private:
    int m_master = -1;
    std::string m_strSlave;
};

}  // namespace zelp::bench
