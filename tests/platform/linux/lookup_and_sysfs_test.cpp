// The handle table's typed lookups, the two steps of a transfer's event, and
// the sysfs attribute reads the device list rests on.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <new>
#include <string>
#include <thread>

#include "native/platform/common/kernel_objects.h"
#include "native/platform/linux/usb_sysfs.h"
#include "test_support.h"

namespace zelp::linuxbk::testing {
namespace {

namespace fs = std::filesystem;

struct SpecialEvent : kobj::Event {
    SpecialEvent() : kobj::Event(true, false) {}
};

TEST(HandleTableTest, LooksObjectsUpAsTheirOwnTypeTheirBasesAndNothingElse) {
    kobj::HandleTable table;
    const HANDLE event = table.Insert(std::make_shared<kobj::Event>(true, false));
    const HANDLE mutex = table.Insert(std::make_shared<kobj::Mutex>(false));
    // Inserted as a base, found as what it is.
    const HANDLE special =
        table.Insert(std::shared_ptr<kobj::KernelObject>(std::make_shared<SpecialEvent>()));

    EXPECT_NE(table.FindAs<kobj::Event>(event), nullptr);
    EXPECT_NE(table.FindAs<kobj::KernelObject>(event), nullptr);
    EXPECT_EQ(table.FindAs<kobj::Mutex>(event), nullptr);
    EXPECT_EQ(table.FindAs<kobj::Event>(mutex), nullptr);
    EXPECT_NE(table.FindAs<kobj::Mutex>(mutex), nullptr);
    EXPECT_NE(table.FindAs<SpecialEvent>(special), nullptr);
    EXPECT_NE(table.FindAs<kobj::Event>(special), nullptr);
    EXPECT_EQ(table.FindAs<SpecialEvent>(event), nullptr);

    EXPECT_NE(table.Remove(event), nullptr);
    EXPECT_EQ(table.FindAs<kobj::Event>(event), nullptr) << "a closed handle names nothing";
    EXPECT_EQ(table.Find(event), nullptr);
    EXPECT_EQ(table.Count(), 2u);
}

// A borrowed object is found again without the table, so these are the ways
// a stale one could slip through: a close here, a close on another thread,
// and another table made where this one lived.
TEST(HandleTableTest, ABorrowedHandleNamesNothingOnceClosedAnywhere) {
    kobj::HandleTable table;
    const HANDLE mutex = table.Insert(std::make_shared<kobj::Mutex>(false));
    const HANDLE other = table.Insert(std::make_shared<kobj::Mutex>(false));
    const HANDLE event = table.Insert(std::make_shared<kobj::Event>(true, false));
    EXPECT_EQ(table.Borrow<kobj::Mutex>(mutex), table.Borrow<kobj::Mutex>(mutex));
    EXPECT_EQ(table.Borrow<kobj::Event>(mutex), nullptr) << "only as what it was inserted as";
    EXPECT_NE(table.Borrow<kobj::Event>(event), nullptr);

    std::thread([&] { table.Remove(mutex); }).join();
    EXPECT_EQ(table.Borrow<kobj::Mutex>(mutex), nullptr) << "closed on another thread";

    kobj::Event* borrowed = table.Borrow<kobj::Event>(event);
    ASSERT_NE(borrowed, nullptr);
    std::weak_ptr<kobj::KernelObject> watch = table.Find(event);
    EXPECT_NE(table.Remove(event), nullptr);
    EXPECT_EQ(table.Borrow<kobj::Event>(event), nullptr) << "closed here";
    EXPECT_TRUE(watch.expired()) << "the thread's own close lets go of what it borrowed";

    // A thread that borrowed from the old table and lives on into the new one.
    std::promise<void> lent, remade;
    std::thread worker([&] {
        EXPECT_NE(table.Borrow<kobj::Mutex>(other), nullptr);
        lent.set_value();
        remade.get_future().wait();
        EXPECT_EQ(table.Borrow<kobj::Mutex>(other), table.FindAs<kobj::Mutex>(other).get())
            << "a new table's handle, not what the old one had under that value";
    });
    lent.get_future().wait();
    table.~HandleTable();
    new (&table) kobj::HandleTable();
    table.Insert(std::make_shared<kobj::Mutex>(false));
    ASSERT_EQ(table.Insert(std::make_shared<kobj::Mutex>(false)), other) << "the same value again";
    // As many removals as the old table had when the worker borrowed.
    table.Remove(table.Insert(std::make_shared<kobj::Mutex>(false)));
    remade.set_value();
    worker.join();
}

// Counts the waits it is asked to drive and never signals by itself.
class CountingDriver : public kobj::WaitDriver {
public:
    bool DriveUntil(kobj::Event&, kobj::Instant) override {
        ++drives;
        return false;
    }
    std::atomic<int> drives{0};
};

TEST(EventTest, ATransferResetsAndAttachesThenDetachesAndSets) {
    kobj::Event event(true, true);
    auto driver = std::make_shared<CountingDriver>();

    event.ResetAndAttach(driver);
    EXPECT_FALSE(event.IsSet());
    EXPECT_FALSE(event.WaitUntil(kobj::SteadyClock::now()));
    EXPECT_EQ(driver->drives.load(), 1) << "a wait on a pending transfer drives it";

    event.DetachAndSet();
    EXPECT_TRUE(event.IsSet());
    EXPECT_TRUE(event.WaitUntil(kobj::SteadyClock::now()));
    EXPECT_EQ(driver->drives.load(), 1) << "an ended transfer is not driven";
}

TEST(EventTest, DetachAndSetWakesAThreadWaitingForTheEvent) {
    kobj::Event event(true, false);
    std::atomic<bool> woke{false};
    std::thread waiter([&] { woke = event.WaitSignalledUntil(kobj::Instant::max()); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    event.DetachAndSet();
    waiter.join();
    EXPECT_TRUE(woke.load());
}

// A printer whose attributes are written without the kernel's line feed, or
// longer than one read, or whose device link leads nowhere.
class SysfsAttributeTest : public ::testing::Test {
protected:
    void AddPrinter(unsigned n, const std::string& serial, bool linkDangles = false) {
        const std::string port = "1-" + std::to_string(n + 1);
        const std::string device = tmp / ("sys/devices/usb1/" + port);
        const std::string entry = device + "/" + port + ":1.0/usbmisc/lp" + std::to_string(n);
        fs::create_directories(entry);
        fs::create_directories(tmp / "sys/class/usbmisc");
        fs::create_directory_symlink(linkDangles ? "../../nowhere" : "../..", entry + "/device");
        fs::create_directory_symlink(entry, tmp / ("sys/class/usbmisc/lp" + std::to_string(n)));
        std::ofstream(device + "/idVendor", std::ios::binary) << "1234";
        std::ofstream(device + "/idProduct", std::ios::binary) << "5678\n";
        std::ofstream(device + "/serial", std::ios::binary) << serial << "\n";
    }

    TempDir tmp;
};

TEST_F(SysfsAttributeTest, AttributesAreReadWholeAndAPrinterWithoutItsDeviceIsLeftOut) {
    const std::string longSerial(700, '7');
    AddPrinter(0, longSerial);
    AddPrinter(1, "000042", /*linkDangles=*/true);
    AddPrinter(2, "");

    const std::vector<UsbPrinterNode> printers = ListUsbPrinters(tmp / "sys");
    ASSERT_EQ(printers.size(), 2u);
    EXPECT_EQ(printers[0].number, 0u);
    EXPECT_EQ(printers[0].vendorId, 0x1234);
    EXPECT_EQ(printers[0].productId, 0x5678);
    EXPECT_EQ(printers[0].serial, longSerial);
    EXPECT_EQ(printers[1].number, 2u);
    EXPECT_EQ(printers[1].serial, std::string());

    const std::optional<UsbPrinterNode> found = FindUsbPrinter(tmp / "sys", 0);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->serial, longSerial);
    EXPECT_FALSE(FindUsbPrinter(tmp / "sys", 1).has_value());
}

}  // namespace
}  // namespace zelp::linuxbk::testing
