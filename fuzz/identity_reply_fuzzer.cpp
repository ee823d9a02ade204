// The identity query over arbitrary sequences of reads: a virtual printer
// without a serial number answers the identity command with the reads the
// input describes, and the device list must list it (or not) as the reply
// rules say, never read past a buffer, never hang and leave nothing open.
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "native/platform/sim/sim_platform.h"
#include "usb/device_list.h"
#include "usb/identity_reply.h"
#include "usb/usb_key.h"

using zelp::fuzz::FuzzInput;
using zelp::fuzz::Require;

namespace {

constexpr const char* kPath =
    "\\\\?\\usb#vid_1234&pid_5678#000000#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";

// The reply rules, read straight from their description: the first "7a" of a
// read starts the answer, which ends at the next carriage return of that same
// read; a read of at most one byte or without the marker is an empty one,
// and the fifth empty read (or a read that never comes) ends the query.
struct Expected {
    bool listed = false;
    std::string text;
};

Expected ExpectedAnswer(const std::vector<std::string>& reads) {
    int empties = 0;
    for (const std::string& read : reads) {
        const size_t marker = read.find("7a");
        if (read.size() <= 1 || marker == std::string::npos) {
            if (++empties >= zelp::kIdentityMaxEmptyReads) {
                return {};
            }
            continue;
        }
        const size_t end = read.find('\r', marker + 2);
        if (end != std::string::npos) {
            return {true, read.substr(marker + 2, end - marker - 2)};
        }
    }
    return {};
}

void CheckScan(const std::string& read) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(read.data());
    const zelp::IdentityReplyScan scan = zelp::ScanIdentityReply(bytes, read.size());
    Require(!scan.bDone || scan.bMarker, "an answer needs its marker");
    Require(scan.bMarker == (read.size() > 1 && read.find("7a") != std::string::npos),
            "the marker is seen exactly when the read holds it");
    Require(read.find(scan.text) != std::string::npos, "the answer is part of its read");
    Require(!scan.bDone || scan.text.find('\r') == std::string::npos,
            "an answer ends at its carriage return");
    const std::string listed = zelp::IdentityTextForList(scan.text, zelp::kIdentityTextChars);
    Require(listed.size() <= zelp::kIdentityTextChars && listed.find('\0') == std::string::npos &&
                scan.text.rfind(listed, 0) == 0,
            "the listed text is a short prefix of the answer, never past a zero");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    std::vector<std::string> reads;
    while (!input.Empty() && reads.size() < 16) {
        // One read takes at most one reply, and at most its buffer's size.
        reads.push_back(input.Bytes(zelp::kIdentityReadSize));
    }
    for (const std::string& read : reads) {
        CheckScan(read);
    }

    zelp::sim::SimPlatform sim;
    zelp::ScopedPlatform scope(sim);
    sim.AddUsbPrinter(kPath);
    sim.AnswerIdentity(kPath, reads);
    int32_t first[zelp::kMaxListedPrinters] = {};
    int32_t second[zelp::kMaxListedPrinters] = {};
    const uint32_t count =
        zelp::ListDevices(first, second, zelp::kMaxListedPrinters, "4660", "22136");

    const Expected expected = ExpectedAnswer(reads);
    Require(count == (expected.listed ? 1u : 0u), "listed exactly when it answered");
    if (expected.listed) {
        const std::string text = zelp::IdentityTextForList(expected.text, zelp::kIdentityTextChars);
        Require(first[0] == zelp::NumericValue(text) && second[0] == 0,
                "listed with the value of its answer");
    }
    Require(sim.OpenHandleCount() == 0 && sim.OpenDeviceInfoSetCount() == 0,
            "the query closes everything it opened");
    return 0;
}
