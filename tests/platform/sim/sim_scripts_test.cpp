// Scripted answers: device requests, status and error words, the identity
// reply, conversations, injected faults and the small system services.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sim_test_support.h"

namespace zelp::sim {
namespace {

using ::testing::HasSubstr;
using testing::Open;
using testing::Overlapped;
using testing::SetTimeouts;

BOOL Negotiate(SimPlatform& sim, HANDLE port, unsigned short mask) {
    ParNegotiationMask masks{mask, mask};
    ParNegotiationMask granted{};
    DWORD returned = 0;
    return sim.DeviceIoControl(port, IOCTL_IEEE1284_NEGOTIATE, &masks, sizeof(masks), &granted,
                               sizeof(granted), &returned, nullptr);
}

class SimScripts : public ::testing::Test {
protected:
    void SetUp() override {
        sim.AddParallelPort("LPT1");
        port = Open(sim, "LPT1");
        ASSERT_NE(port, INVALID_HANDLE_VALUE);
    }
    void TearDown() override { sim.CloseHandle(port); }

    SimPlatform sim;
    HANDLE port = nullptr;
};

TEST_F(SimScripts, DeviceRequestsFollowTheirRulesByCodeMaskAndUses) {
    EXPECT_TRUE(Negotiate(sim, port, kIeee1284MaskNone));
    sim.ScriptIoctl("LPT1", IOCTL_IEEE1284_NEGOTIATE, Behaviour::FailAtOnce(ERROR_GEN_FAILURE), -1,
                    kIeee1284MaskNone);
    sim.ScriptIoctl("LPT1", IOCTL_IEEE1284_NEGOTIATE, Behaviour::FailAtOnce(ERROR_GEN_FAILURE), 2,
                    kIeee1284MaskNibble);
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(Negotiate(sim, port, kIeee1284MaskNone));
        EXPECT_EQ(sim.GetLastError(), DWORD{ERROR_GEN_FAILURE});
    }
    EXPECT_FALSE(Negotiate(sim, port, kIeee1284MaskNibble));
    EXPECT_FALSE(Negotiate(sim, port, kIeee1284MaskNibble));
    EXPECT_TRUE(Negotiate(sim, port, kIeee1284MaskNibble));
    EXPECT_TRUE(Negotiate(sim, port, kIeee1284MaskCentronics));

    DWORD returned = 0;
    EXPECT_FALSE(sim.DeviceIoControl(port, 0x00220000, nullptr, 0, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(sim.GetLastError(), DWORD{ERROR_NOT_SUPPORTED});
    ParNegotiationMask modes{};
    EXPECT_TRUE(sim.DeviceIoControl(port, IOCTL_PAR_GET_DEFAULT_MODES, &modes, 4, &modes, 4,
                                    &returned, nullptr));
    EXPECT_EQ(returned, 4u);
}

TEST_F(SimScripts, TheStatusQueryReportsTheStatusByteOrItsScriptedFailure) {
    sim.SetParallelStatus("LPT1", PARALLEL_PAPER_EMPTY | PARALLEL_BUSY);
    BYTE status[256] = {};
    DWORD returned = 0;
    Overlapped query(sim, port);
    EXPECT_TRUE(sim.DeviceIoControl(port, IOCTL_PAR_QUERY_INFORMATION, nullptr, 0, status, 256,
                                    &returned, &query.record));
    EXPECT_EQ(status[0], PARALLEL_PAPER_EMPTY | PARALLEL_BUSY);
    EXPECT_EQ(returned, 1u);

    sim.ScriptIoctl("LPT1", IOCTL_PAR_QUERY_INFORMATION,
                    Behaviour::FailAfter(ERROR_GEN_FAILURE, 15));
    status[0] = 0;
    ASSERT_FALSE(sim.DeviceIoControl(port, IOCTL_PAR_QUERY_INFORMATION, nullptr, 0, status, 256,
                                     &returned, &query.record));
    ASSERT_EQ(sim.GetLastError(), DWORD{ERROR_IO_PENDING});
    EXPECT_FALSE(query.Result(TRUE));
    EXPECT_EQ(sim.GetLastError(), DWORD{ERROR_GEN_FAILURE});
    EXPECT_EQ(status[0], 0);
    EXPECT_EQ(sim.NowMs(), 15u);
}

TEST_F(SimScripts, ClearCommErrorGivesTheWordOrFailsWithoutWritingIt) {
    sim.SetCommErrors("LPT1", CE_PTO | CE_OOP);
    DWORD errors = 0;
    COMSTAT comstat{};
    EXPECT_TRUE(sim.ClearCommError(port, &errors, &comstat));
    EXPECT_EQ(errors, DWORD{CE_PTO | CE_OOP});
    sim.FailClearCommError("LPT1", ERROR_GEN_FAILURE);
    errors = 0x1234;
    EXPECT_FALSE(sim.ClearCommError(port, &errors, &comstat));
    EXPECT_EQ(sim.GetLastError(), DWORD{ERROR_GEN_FAILURE});
    EXPECT_EQ(errors, 0x1234u);
}

TEST_F(SimScripts, AnIdentityCommandBringsTheScriptedReplyPieceByPiece) {
    SetTimeouts(sim, port, 100, 0);
    sim.AnswerIdentity("LPT1", {"7a47", "11\r"}, 30);
    Overlapped write(sim, port);
    EXPECT_TRUE(write.Write("something else"));
    Overlapped read(sim, port);
    ASSERT_FALSE(read.Read(128));
    EXPECT_TRUE(read.Result(TRUE));
    EXPECT_EQ(read.count, 0u);  // nothing was asked, nothing comes

    EXPECT_TRUE(write.Write(kIdentityCommand));
    const uint64_t asked = sim.NowMs();
    ASSERT_FALSE(read.Read(128));
    EXPECT_TRUE(read.Result(TRUE));
    EXPECT_EQ(read.Bytes(), "7a47");
    EXPECT_EQ(sim.NowMs(), asked + 30);
    EXPECT_TRUE(read.Read(128));
    EXPECT_EQ(read.Bytes(), "11\r");
}

TEST_F(SimScripts, AChatAnswersEachExpectedRequestAndReportsWhatDiffered) {
    SetTimeouts(sim, port, 10, 2000);
    sim.SetChat("LPT1", Chat()
                            .Ioctl(IOCTL_PAR_GET_DEFAULT_MODES)
                            .Negotiate(kIeee1284MaskCentronics)
                            .Write("job", Behaviour::Never())
                            .Read("ok"));
    ParNegotiationMask modes{};
    DWORD returned = 0;
    EXPECT_TRUE(sim.DeviceIoControl(port, IOCTL_PAR_GET_DEFAULT_MODES, &modes, 4, &modes, 4,
                                    &returned, nullptr));
    EXPECT_TRUE(Negotiate(sim, port, kIeee1284MaskCentronics));
    Overlapped write(sim, port);
    ASSERT_FALSE(write.Write("job"));
    EXPECT_TRUE(write.Result(TRUE));  // the port's write time-out ends it
    EXPECT_EQ(write.count, 0u);
    EXPECT_EQ(sim.NowMs(), 2000u);
    EXPECT_FALSE(sim.ChatFinished("LPT1"));
    Overlapped read(sim, port);
    EXPECT_TRUE(read.Read(16));
    EXPECT_EQ(read.Bytes(), "ok");
    EXPECT_TRUE(sim.ChatFinished("LPT1")) << sim.ChatReport("LPT1");
    EXPECT_EQ(sim.ChatReport("LPT1"), "");

    // Anything after the last step is a mismatch too, answered as a failure.
    EXPECT_FALSE(write.Write("extra"));
    EXPECT_EQ(sim.GetLastError(), DWORD{ERROR_GEN_FAILURE});
    EXPECT_FALSE(sim.ChatFinished("LPT1"));
    EXPECT_THAT(sim.ChatReport("LPT1"),
                HasSubstr("expected nothing more, came WriteFile 5 \"extra\""));
}

TEST_F(SimScripts, AChatMismatchShowsTheExpectedStepBesideTheRequest) {
    sim.SetChat("LPT1", Chat().Negotiate(kIeee1284MaskNibble).Write("\x1b@"));
    EXPECT_FALSE(Negotiate(sim, port, kIeee1284MaskCentronics));
    EXPECT_EQ(sim.GetLastError(), DWORD{ERROR_GEN_FAILURE});
    const std::string report = sim.ChatReport("LPT1");
    EXPECT_THAT(report, HasSubstr("step 1: expected DeviceIoControl IEEE1284_NEGOTIATE 0x0004"));
    EXPECT_THAT(report, HasSubstr("came DeviceIoControl IEEE1284_NEGOTIATE 0x0001"));
    EXPECT_THAT(report, HasSubstr("step 2 not taken: WriteFile \"\\x1b@\""));
}

TEST_F(SimScripts, AChatOnTransfersOnlyLeavesDeviceRequestsToTheStandingScript) {
    sim.SetChat("LPT1", Chat().TransfersOnly().Write("a").Write("b", Behaviour::UnplugAfter(5)));
    EXPECT_TRUE(Negotiate(sim, port, kIeee1284MaskCentronics));
    Overlapped write(sim, port);
    EXPECT_TRUE(write.Write("a"));
    ASSERT_FALSE(write.Write("b"));
    EXPECT_FALSE(write.Result(TRUE));  // the printer is gone in the middle of the job
    EXPECT_EQ(sim.GetLastError(), DWORD{ERROR_DEVICE_NOT_CONNECTED});
    EXPECT_TRUE(sim.ChatFinished("LPT1")) << sim.ChatReport("LPT1");
    EXPECT_EQ(Open(sim, "LPT1"), INVALID_HANDLE_VALUE);
}

TEST(SimSystem, InjectedFaultsHitTheNthCallOnly) {
    SimPlatform sim;
    sim.AddParallelPort("LPT1");
    sim.FailCall("CreateEventA", ERROR_NOT_ENOUGH_MEMORY, 2);
    sim.FailCall("CreateMutexA", ERROR_NOT_ENOUGH_MEMORY);
    sim.FailCall("CreateFileA", ERROR_ACCESS_DENIED);
    HANDLE first = sim.CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(sim.CreateEventA(nullptr, TRUE, FALSE, nullptr), nullptr);
    EXPECT_EQ(sim.GetLastError(), DWORD{ERROR_NOT_ENOUGH_MEMORY});
    HANDLE third = sim.CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_NE(third, nullptr);
    EXPECT_EQ(sim.CreateMutexA(nullptr, FALSE, nullptr), nullptr);
    EXPECT_EQ(Open(sim, "LPT1"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(sim.GetLastError(), DWORD{ERROR_ACCESS_DENIED});
    HANDLE port = Open(sim, "LPT1");
    EXPECT_NE(port, INVALID_HANDLE_VALUE);
    EXPECT_EQ(sim.OpenHandleCount(), 3u);
    for (HANDLE h : {first, third, port}) {
        sim.CloseHandle(h);
    }
}

TEST(SimSystem, VersionMutexesAndMemoryKeepTheirWindowsRules) {
    SimPlatform sim;
    sim.SetVersion(6, 1);
    OSVERSIONINFOA info{};
    EXPECT_FALSE(sim.GetVersionExA(&info));
    EXPECT_EQ(sim.GetLastError(), DWORD{ERROR_INSUFFICIENT_BUFFER});
    info.dwOSVersionInfoSize = sizeof(info);
    ASSERT_TRUE(sim.GetVersionExA(&info));
    EXPECT_EQ(info.dwMajorVersion, 6u);
    EXPECT_EQ(info.dwPlatformId, 1u);

    HANDLE mutex = sim.CreateMutexA(nullptr, FALSE, nullptr);
    EXPECT_FALSE(sim.ReleaseMutex(mutex));
    EXPECT_EQ(sim.GetLastError(), DWORD{ERROR_NOT_OWNER});
    EXPECT_EQ(sim.WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(sim.WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);  // owned recursively
    EXPECT_TRUE(sim.ReleaseMutex(mutex));
    EXPECT_TRUE(sim.ReleaseMutex(mutex));
    sim.CloseHandle(mutex);

    sim.FailCall("LocalAlloc", ERROR_NOT_ENOUGH_MEMORY, 2);
    auto* block = static_cast<unsigned char*>(sim.LocalAlloc(LMEM_ZEROINIT, 64));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block[63], 0);
    EXPECT_EQ(sim.LocalAlloc(LMEM_ZEROINIT, 64), nullptr);
    EXPECT_EQ(sim.LocalAllocationCount(), 1u);
    EXPECT_EQ(sim.LocalFree(block), nullptr);
    EXPECT_EQ(sim.LocalFree(block), block);  // a second free is refused, not done
    EXPECT_EQ(sim.LocalAllocationCount(), 0u);

    const WCHAR text[] = {'L', 'P', 'T', 0x00e9, 0};
    EXPECT_EQ(sim.WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr), 6);
    char small[3];
    EXPECT_EQ(sim.WideCharToMultiByte(CP_ACP, 0, text, -1, small, 3, nullptr, nullptr), 0);
    EXPECT_EQ(sim.GetLastError(), DWORD{ERROR_INSUFFICIENT_BUFFER});
}

}  // namespace
}  // namespace zelp::sim
