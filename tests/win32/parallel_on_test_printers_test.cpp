// com.quenrix.zel.comm.ParallelPort on a parallel port driver: the IEEE 1284
// requests around each transfer, in the order the driver receives them, on
// the system version the program runs under (ctest runs these tests twice:
// on Wine's default 6.1, and as a program the prefix tells it is on 5.2).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "test_printers_fixture.h"

namespace zelp::test {
namespace {

// PARALLEL_* status bits.
constexpr ULONG kSelected = 0x80, kPaperEmpty = 0x04, kOffLine = 0x08, kPowerOff = 0x10;

DWORD ExpectedMajorVersion() {
    const char* major = std::getenv("ZELP_TEST_SYSTEM_MAJOR");
    return major != nullptr ? static_cast<DWORD>(std::atoi(major)) : 6;
}

class ParallelPortOnTestPrinters : public OnTestPrinters {
protected:
    void SetUp() override {
        OnTestPrinters::SetUp();
        ASSERT_FALSE(HasFatalFailure());
        OSVERSIONINFOA info{};
        info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        ASSERT_TRUE(::GetVersionExA(&info));
#pragma GCC diagnostic pop
        ASSERT_EQ(info.dwMajorVersion, ExpectedMajorVersion())
            << "the prefix did not give this program the system version it was run for";
    }
    void TearDown() override {
        ParallelPort<NoArgFn>("closeParallelPort")(m_env, nullptr);
    }

    bool Open(const std::string& name) {
        FakeString portName = JavaText(name);
        return ParallelPort<OpenFn>("openParallelPort")(m_env, nullptr,
                                                        FakeJniEnv::Ref(portName)) != JNI_FALSE;
    }
    bool Write(FakeByteArray& data, jint offset, jint length) {
        return ParallelPort<WriteFn>("writeData")(m_env, nullptr, FakeJniEnv::Ref(data), offset,
                                                  length) != JNI_FALSE;
    }
    jint Read(FakeByteArray& buffer, jint length) {
        return ParallelPort<ReadFn>("readData")(m_env, nullptr, FakeJniEnv::Ref(buffer), length);
    }
    bool Detect() {
        return ParallelPort<NoArgFn>("detectParallelPort")(m_env, nullptr);
    }
    std::vector<std::string> Requests() {
        return m_printers.Requests(ZELP_TEST_PARALLEL);
    }
};

// Version 6 drivers leave a reverse mode only through a negotiation to none
// (0000); version 5 drivers take one request per switch. Centronics is 0001,
// nibble 0004.
TEST_F(ParallelPortOnTestPrinters, RequestOrderOfAWriteAndARead) {
    const std::vector<std::string> toCentronics =
        ExpectedMajorVersion() == 6
            ? std::vector<std::string>{"default modes", "negotiate 0000/0000",
                                       "negotiate 0001/0001"}
            : std::vector<std::string>{"default modes", "negotiate 0001/0001"};
    std::vector<std::string> expected = {"open", "set timeouts"};
    expected.insert(expected.end(), toCentronics.begin(), toCentronics.end());
    expected.insert(expected.end(), {"write 3", "default modes", "negotiate 0004/0004", "read 16"});
    expected.insert(expected.end(), toCentronics.begin(), toCentronics.end());
    expected.push_back("close");

    ASSERT_TRUE(ScriptReply(ZELP_TEST_PARALLEL, "ACK", ZELP_TEST_AT_ONCE, kStatusSuccess));
    ASSERT_TRUE(Open("\\\\.\\LPT9"));
    FakeByteArray job({'-', 0x1b, '@', 0x0c, '-'});
    FakeByteArray buffer(std::vector<jbyte>(16, 0));
    EXPECT_TRUE(Write(job, 1, 3));
    EXPECT_EQ(Read(buffer, 16), 3);
    ParallelPort<NoArgFn>("closeParallelPort")(m_env, nullptr);

    EXPECT_EQ(Requests(), expected);
    const std::vector<zelp_test_request> writes = Arrived(ZELP_TEST_PARALLEL, kMajorWrite);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(LoggedBytes(writes[0]), (std::vector<BYTE>{0x1b, '@', 0x0c}));
}

TEST_F(ParallelPortOnTestPrinters, Lpt1IsTheSamePort) {
    ASSERT_TRUE(Open("LPT1"));
    FakeByteArray job({'h', 'i'});
    EXPECT_TRUE(Write(job, 0, 2));
    EXPECT_TRUE(HasRequest(ZELP_TEST_PARALLEL, "write 2"));
}

TEST_F(ParallelPortOnTestPrinters, DetectReadsTheStatusBits) {
    struct Case {
        const char* what;
        ULONG status;
        LONG queryStatus;
        bool online;
    };
    const Case cases[] = {
        {"selected", kSelected, kStatusSuccess, true},
        {"paper out", kSelected | kPaperEmpty, kStatusSuccess, true},
        {"off line", kOffLine, kStatusSuccess, false},
        {"powered off", kSelected | kPowerOff, kStatusSuccess, false},
        {"query refused", kSelected, kStatusInvalidDeviceRequest, false},
    };
    ASSERT_TRUE(Open("\\\\.\\LPT9"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(m_printers.Script(ZELP_TEST_PARALLEL, [&](zelp_test_script& s) {
            s.status_byte = c.status;
            s.query_status = c.queryStatus;
        }));
        EXPECT_EQ(Detect(), c.online);
    }
    EXPECT_EQ(Requests().back(), "query status");
}

// A job goes out in whatever mode the port is in; a read needs the reverse
// channel, asks for it three times, and reads nothing without it.
TEST_F(ParallelPortOnTestPrinters, RefusedNegotiationStillWritesButReadsNothing) {
    ASSERT_TRUE(m_printers.Script(ZELP_TEST_PARALLEL, [](zelp_test_script& s) {
        s.negotiate_status = kStatusInvalidDeviceRequest;
        s.reply_length = 3;
    }));
    ASSERT_TRUE(Open("\\\\.\\LPT9"));
    FakeByteArray job({'a', 'b', 'c'});
    FakeByteArray buffer({9, 9, 9});
    EXPECT_TRUE(Write(job, 0, 3));
    EXPECT_EQ(Read(buffer, 3), 0);
    EXPECT_EQ(buffer.elements, (std::vector<jbyte>{9, 9, 9}));

    const std::vector<std::string> requests = Requests();
    EXPECT_EQ(std::count(requests.begin(), requests.end(), "write 3"), 1);
    EXPECT_EQ(std::count(requests.begin(), requests.end(), "negotiate 0004/0004"), 3);
    EXPECT_EQ(std::count(requests.begin(), requests.end(), "read 3"), 0);
}

// A read that completed returns the bytes it moved even when its completion
// carries an error status.
TEST_F(ParallelPortOnTestPrinters, ReadCompletedWithAnErrorKeepsTheBytesItMoved) {
    ASSERT_TRUE(ScriptReply(ZELP_TEST_PARALLEL, "7a777\r", ZELP_TEST_LATER, kStatusBufferOverflow));
    ASSERT_TRUE(Open("\\\\.\\LPT9"));
    FakeByteArray buffer(std::vector<jbyte>(8, 9));
    EXPECT_EQ(Read(buffer, 8), 6);
    EXPECT_EQ(buffer.elements, (std::vector<jbyte>{'7', 'a', '7', '7', '7', '\r', 9, 9}));
}

}  // namespace
}  // namespace zelp::test
