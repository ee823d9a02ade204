// Virtual devices: opening, presence, handle counting and the call record.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sim_test_support.h"

namespace zelp::sim {
namespace {

using ::testing::ElementsAre;
using testing::Open;
using testing::Overlapped;
using testing::SetTimeouts;

TEST(SimDevices, EveryOpenIsExclusiveAndNeedsAPresentDevice) {
    SimPlatform sim;
    ASSERT_TRUE(sim.AddParallelPort("\\\\.\\LPT2"));
    EXPECT_FALSE(sim.AddParallelPort("\\\\.\\LPT2"));

    HANDLE port = Open(sim, "\\\\.\\LPT2");
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(Open(sim, "\\\\.\\LPT2"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(sim.GetLastError(), DWORD{ERROR_SHARING_VIOLATION});
    EXPECT_EQ(Open(sim, "LPT2"), INVALID_HANDLE_VALUE);  // names are taken as given
    EXPECT_EQ(sim.GetLastError(), DWORD{ERROR_FILE_NOT_FOUND});
    EXPECT_EQ(Open(sim, ""), INVALID_HANDLE_VALUE);
    EXPECT_EQ(sim.GetLastError(), DWORD{ERROR_PATH_NOT_FOUND});

    EXPECT_TRUE(sim.CloseHandle(port));
    sim.HoldOpenElsewhere("\\\\.\\LPT2", true);
    EXPECT_EQ(Open(sim, "\\\\.\\LPT2"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(sim.GetLastError(), DWORD{ERROR_SHARING_VIOLATION});
    sim.HoldOpenElsewhere("\\\\.\\LPT2", false);
    sim.FailOpen("\\\\.\\LPT2", ERROR_ACCESS_DENIED);
    EXPECT_EQ(Open(sim, "\\\\.\\LPT2"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(sim.GetLastError(), DWORD{ERROR_ACCESS_DENIED});
    sim.FailOpen("\\\\.\\LPT2", ERROR_SUCCESS);
    port = Open(sim, "\\\\.\\LPT2");
    EXPECT_NE(port, INVALID_HANDLE_VALUE);
    sim.CloseHandle(port);
}

TEST(SimDevices, PullingOutFailsPendingAndLaterTransfersAndReportsTheAbsence) {
    SimPlatform sim;
    sim.AddParallelPort("LPT1");
    sim.SetWrites("LPT1", Behaviour::Never());
    HANDLE port = Open(sim, "LPT1");
    Overlapped write(sim, port);
    ASSERT_FALSE(write.Write("job"));
    ASSERT_EQ(sim.GetLastError(), DWORD{ERROR_IO_PENDING});

    sim.Unplug("LPT1");
    EXPECT_EQ(write.Wait(0), WAIT_OBJECT_0);
    EXPECT_FALSE(write.Result(TRUE));
    EXPECT_EQ(sim.GetLastError(), DWORD{ERROR_DEVICE_NOT_CONNECTED});

    Overlapped later(sim, port);
    EXPECT_FALSE(later.Write("more"));
    EXPECT_EQ(sim.GetLastError(), DWORD{ERROR_DEVICE_NOT_CONNECTED});
    DWORD errors = 0;
    EXPECT_TRUE(sim.ClearCommError(port, &errors, nullptr));
    EXPECT_EQ(errors & CE_DNS, DWORD{CE_DNS});
    BYTE status = 0;
    DWORD returned = 0;
    EXPECT_TRUE(sim.DeviceIoControl(port, IOCTL_PAR_QUERY_INFORMATION, nullptr, 0, &status, 1,
                                    &returned, nullptr));
    EXPECT_EQ(status, PARALLEL_POWER_OFF | PARALLEL_NOT_CONNECTED);
    EXPECT_EQ(Open(sim, "LPT1"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(sim.GetLastError(), DWORD{ERROR_FILE_NOT_FOUND});

    // Plugged in again it is a fresh device: the old handle stays dead and
    // does not make the new open a second one.
    sim.PlugIn("LPT1");
    HANDLE fresh = Open(sim, "LPT1");
    ASSERT_NE(fresh, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(later.Write("more"));
    EXPECT_EQ(sim.GetLastError(), DWORD{ERROR_DEVICE_NOT_CONNECTED});
    EXPECT_EQ(sim.OpenCount("LPT1"), 2u);
    sim.CloseHandle(port);
    sim.CloseHandle(fresh);
    EXPECT_EQ(sim.OpenCount("LPT1"), 0u);
}

TEST(SimDevices, HandlesOfEveryKindAreCountedUntilClosed) {
    SimPlatform sim;
    sim.AddUsbPrinter("\\\\?\\usb#vid_1234&pid_5678#000001#{28d78fad}");
    HANDLE event = sim.CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE mutex = sim.CreateMutexA(nullptr, FALSE, nullptr);
    HANDLE device = Open(sim, "\\\\?\\usb#vid_1234&pid_5678#000001#{28d78fad}");
    EXPECT_EQ(sim.OpenHandleCount(), 3u);
    EXPECT_EQ(sim.OpenEventCount(), 1u);
    EXPECT_EQ(sim.OpenMutexCount(), 1u);
    EXPECT_EQ(sim.OpenDeviceHandleCount(), 1u);

    EXPECT_TRUE(sim.CloseHandle(event));
    EXPECT_TRUE(sim.CloseHandle(mutex));
    EXPECT_TRUE(sim.CloseHandle(device));
    EXPECT_EQ(sim.OpenHandleCount(), 0u);
    EXPECT_FALSE(sim.CloseHandle(device));
    EXPECT_EQ(sim.GetLastError(), DWORD{ERROR_INVALID_HANDLE});
    EXPECT_FALSE(sim.CloseHandle(nullptr));
    // A closed handle is never handed out again, so a stale one names nothing.
    HANDLE next = sim.CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_NE(next, event);
    EXPECT_NE(next, device);
    sim.CloseHandle(next);
}

TEST(SimDevices, ResetForgetsDevicesButOpenHandlesStayClosable) {
    SimPlatform sim;
    sim.AddParallelPort("LPT1");
    HANDLE port = Open(sim, "LPT1");
    sim.SetVersion(6, VER_PLATFORM_WIN32_NT);
    sim.Reset();
    EXPECT_TRUE(sim.Calls().empty());
    EXPECT_EQ(Open(sim, "LPT1"), INVALID_HANDLE_VALUE);
    Overlapped write(sim, port);
    EXPECT_FALSE(write.Write("x"));
    EXPECT_EQ(sim.GetLastError(), DWORD{ERROR_DEVICE_NOT_CONNECTED});
    EXPECT_TRUE(sim.CloseHandle(port));
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof(info);
    ASSERT_TRUE(sim.GetVersionExA(&info));
    EXPECT_EQ(info.dwMajorVersion, 5u);
    EXPECT_THROW(sim.Received("LPT1"), std::invalid_argument);
}

TEST(SimDevices, RecordsEveryCallInOrderWithItsDeviceAndArguments) {
    SimPlatform sim;
    sim.AddParallelPort("LPT1");
    sim.AddParallelPort("LPT2");
    HANDLE one = Open(sim, "LPT1");
    HANDLE two = Open(sim, "LPT2");
    SetTimeouts(sim, one, 10, 2000);
    ParNegotiationMask masks{kIeee1284MaskNibble, kIeee1284MaskNibble};
    ParNegotiationMask granted{};
    DWORD returned = 0;
    sim.DeviceIoControl(one, IOCTL_IEEE1284_NEGOTIATE, &masks, 4, &granted, 4, &returned, nullptr);
    Overlapped first(sim, one);
    Overlapped second(sim, two);
    EXPECT_TRUE(first.Write("abc"));
    EXPECT_TRUE(second.Write("zz"));
    EXPECT_FALSE(first.Read(64));  // nothing queued: pending until the read time-out

    EXPECT_THAT(
        sim.RequestSummaries("LPT1"),
        ElementsAre("DeviceIoControl IEEE1284_NEGOTIATE 0x0004", "WriteFile 3", "ReadFile 64"));
    EXPECT_THAT(sim.RequestSummaries("LPT2"), ElementsAre("WriteFile 2"));
    const auto opens = sim.Calls("LPT1", {"CreateFileA", "SetCommTimeouts"});
    ASSERT_EQ(opens.size(), 2u);
    EXPECT_EQ(opens[0].result, reinterpret_cast<uintptr_t>(one));
    EXPECT_EQ(opens[1].Summary(), "SetCommTimeouts read 10 write 2000");
    const auto writes = sim.Calls("LPT1", {"WriteFile"});
    EXPECT_EQ(writes[0].data, "abc");
    EXPECT_EQ(writes[0].handle, one);
    const auto reads = sim.Calls("LPT1", {"ReadFile"});
    EXPECT_EQ(reads[0].error, DWORD{ERROR_IO_PENDING});

    const auto all = sim.Calls();
    for (size_t i = 1; i < all.size(); ++i) {
        EXPECT_LT(all[i - 1].seq, all[i].seq);
    }
    EXPECT_EQ(sim.Received("LPT1"), "abc");
    EXPECT_EQ(sim.TakeReceived("LPT2"), "zz");
    EXPECT_EQ(sim.Received("LPT2"), "");
    sim.CancelIo(one);
    first.Result(TRUE);
    sim.CloseHandle(one);
    sim.CloseHandle(two);
}

}  // namespace
}  // namespace zelp::sim
