// The win32 backend on real Windows objects (Wine's, in CI). A named pipe
// stands in for a printer: like a printer port it opens exclusively and takes
// overlapped transfers, and its far end, held by the test, decides when a
// read completes. What is checked is what the port logic relies on, as
// native/platform.h states it.
#include "native/platform/win32/win32_platform.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

namespace zelp {
namespace {

// A long wait that only a broken backend would run out; never a measure.
constexpr DWORD kGenerousMs = 10000;

// The server end of a pipe, used synchronously by the test.
class PipePrinter {
public:
    explicit PipePrinter(const std::string& name)
        : m_hServer(::CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX,
                                       PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 4096,
                                       4096, 0, nullptr)) {}
    ~PipePrinter() { ::CloseHandle(m_hServer); }
    PipePrinter(const PipePrinter&) = delete;
    PipePrinter& operator=(const PipePrinter&) = delete;

    bool IsOpen() const { return m_hServer != INVALID_HANDLE_VALUE; }

    std::string Receive(size_t count) {
        std::string bytes(count, '\0');
        size_t received = 0;
        DWORD got = 0;
        while (received < count &&
               ::ReadFile(m_hServer, bytes.data() + received, static_cast<DWORD>(count - received),
                          &got, nullptr)) {
            received += got;
        }
        bytes.resize(received);
        return bytes;
    }

    bool Send(const std::string& bytes) {
        DWORD sent = 0;
        return ::WriteFile(m_hServer, bytes.data(), static_cast<DWORD>(bytes.size()), &sent,
                           nullptr) &&
               sent == bytes.size();
    }

    void Disconnect() { ::DisconnectNamedPipe(m_hServer); }

private:
    HANDLE m_hServer;
};

std::string UniquePipeName() {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    return std::string("\\\\.\\pipe\\zelp-") + test->name() + "-" +
           std::to_string(::GetCurrentProcessId());
}

class Win32PipeTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_printer.IsOpen()); }

    HANDLE OpenPrinter() {
        return m_os.CreateFileA(m_name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    }

    // A zeroed record with a fresh manual-reset event, as the port logic makes.
    OVERLAPPED NewRecord() {
        OVERLAPPED record{};
        record.hEvent = m_os.CreateEventA(nullptr, TRUE, FALSE, nullptr);
        return record;
    }

    // Writes through the backend and waits for the end of the transfer.
    bool WriteAll(HANDLE port, const std::string& bytes) {
        OVERLAPPED record = NewRecord();
        DWORD written = 0;
        BOOL done =
            m_os.WriteFile(port, bytes.data(), static_cast<DWORD>(bytes.size()), &written, &record);
        if (!done && m_os.GetLastError() == ERROR_IO_PENDING) {
            done = m_os.GetOverlappedResult(port, &record, &written, TRUE);
        }
        m_os.CloseHandle(record.hEvent);
        return done && written == bytes.size();
    }

    Win32Platform m_os;
    std::string m_name = UniquePipeName();
    PipePrinter m_printer{m_name};
};

TEST_F(Win32PipeTest, OpensExclusivelyAndWritesInOrder) {
    HANDLE port = OpenPrinter();
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    ASSERT_NE(port, nullptr);

    // A second user is refused while the first holds the printer. A pipe
    // says so with ERROR_PIPE_BUSY; a printer port says ERROR_SHARING_VIOLATION.
    EXPECT_EQ(OpenPrinter(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(m_os.GetLastError(), static_cast<DWORD>(ERROR_PIPE_BUSY));

    EXPECT_TRUE(WriteAll(port, "first job, "));
    EXPECT_TRUE(WriteAll(port, std::string("\0\x1b@\xff", 4)));
    EXPECT_EQ(m_printer.Receive(15), std::string("first job, \0\x1b@\xff", 15));

    EXPECT_TRUE(m_os.CloseHandle(port));
}

TEST_F(Win32PipeTest, PendingReadCompletesWhenThePrinterAnswers) {
    HANDLE port = OpenPrinter();
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    OVERLAPPED record = NewRecord();
    ASSERT_NE(record.hEvent, nullptr);
    char reply[16] = {};
    DWORD count = 0;

    ASSERT_FALSE(m_os.ReadFile(port, reply, sizeof(reply), &count, &record));
    ASSERT_EQ(m_os.GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));

    // Nothing has been sent, so no wait can end in time and the record
    // reports the transfer as still running.
    EXPECT_EQ(m_os.WaitForSingleObject(record.hEvent, 20), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_FALSE(m_os.GetOverlappedResult(port, &record, &count, FALSE));
    EXPECT_EQ(m_os.GetLastError(), static_cast<DWORD>(ERROR_IO_INCOMPLETE));

    ASSERT_TRUE(m_printer.Send("7a42\r"));
    EXPECT_EQ(m_os.WaitForSingleObject(record.hEvent, kGenerousMs),
              static_cast<DWORD>(WAIT_OBJECT_0));
    ASSERT_TRUE(m_os.GetOverlappedResult(port, &record, &count, FALSE));
    EXPECT_EQ(count, 5u);
    EXPECT_EQ(std::string(reply, count), "7a42\r");

    m_os.CloseHandle(record.hEvent);
    m_os.CloseHandle(port);
}

TEST_F(Win32PipeTest, CancelledReadEndsAbortedAndThePortStaysUsable) {
    HANDLE port = OpenPrinter();
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    OVERLAPPED record = NewRecord();
    char reply[8] = {};
    DWORD count = 99;
    ASSERT_FALSE(m_os.ReadFile(port, reply, sizeof(reply), &count, &record));
    ASSERT_EQ(m_os.GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));

    EXPECT_TRUE(m_os.CancelIo(port));
    // Only after this wait may the record and the buffer go.
    EXPECT_FALSE(m_os.GetOverlappedResult(port, &record, &count, TRUE));
    EXPECT_EQ(m_os.GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(m_os.WaitForSingleObject(record.hEvent, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    m_os.CloseHandle(record.hEvent);

    // The cancel took nothing of what comes later.
    ASSERT_TRUE(m_printer.Send("ok"));
    OVERLAPPED next = NewRecord();
    BOOL done = m_os.ReadFile(port, reply, sizeof(reply), &count, &next);
    if (!done && m_os.GetLastError() == ERROR_IO_PENDING) {
        done = m_os.GetOverlappedResult(port, &next, &count, TRUE);
    }
    EXPECT_TRUE(done);
    EXPECT_EQ(std::string(reply, count), "ok");
    m_os.CloseHandle(next.hEvent);
    m_os.CloseHandle(port);
}

TEST_F(Win32PipeTest, PrinterGoingAwayFailsPendingAndLaterTransfers) {
    HANDLE port = OpenPrinter();
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    OVERLAPPED record = NewRecord();
    char reply[8] = {};
    DWORD count = 0;
    ASSERT_FALSE(m_os.ReadFile(port, reply, sizeof(reply), &count, &record));
    ASSERT_EQ(m_os.GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));

    m_printer.Disconnect();

    EXPECT_FALSE(m_os.GetOverlappedResult(port, &record, &count, TRUE));
    EXPECT_EQ(m_os.GetLastError(), static_cast<DWORD>(ERROR_PIPE_NOT_CONNECTED));
    // A failure at once, not a transfer left pending.
    OVERLAPPED write = NewRecord();
    EXPECT_FALSE(m_os.WriteFile(port, "x", 1, &count, &write));
    EXPECT_EQ(m_os.GetLastError(), static_cast<DWORD>(ERROR_PIPE_NOT_CONNECTED));

    m_os.CloseHandle(write.hEvent);
    m_os.CloseHandle(record.hEvent);
    m_os.CloseHandle(port);
}

TEST(Win32Platform, EventsStaySetAndMutexesBelongToTheirThread) {
    Win32Platform os;
    HANDLE event = os.CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(os.WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(os.SetEvent(event));
    // Manual reset: every waiter sees it, not only the first.
    EXPECT_EQ(os.WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(os.WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_TRUE(os.CloseHandle(event));
    EXPECT_FALSE(os.CloseHandle(event));
    EXPECT_EQ(os.GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    HANDLE mutex = os.CreateMutexA(nullptr, FALSE, nullptr);
    ASSERT_NE(mutex, nullptr);
    ASSERT_EQ(os.WaitForSingleObject(mutex, INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));
    DWORD otherWait = 0;
    BOOL otherRelease = TRUE;
    DWORD otherError = 0;
    std::thread other([&] {
        otherWait = os.WaitForSingleObject(mutex, 0);
        otherRelease = os.ReleaseMutex(mutex);
        otherError = os.GetLastError();
    });
    other.join();
    EXPECT_EQ(otherWait, static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_FALSE(otherRelease);
    EXPECT_EQ(otherError, static_cast<DWORD>(ERROR_NOT_OWNER));
    EXPECT_TRUE(os.ReleaseMutex(mutex));
    EXPECT_FALSE(os.ReleaseMutex(mutex));
    EXPECT_EQ(os.GetLastError(), static_cast<DWORD>(ERROR_NOT_OWNER));
    os.CloseHandle(mutex);
}

TEST(Win32Platform, VersionQueryAnswersOnlyAWellSizedRecord) {
    Win32Platform os;
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof(info);
    ASSERT_TRUE(os.GetVersionExA(&info));
    EXPECT_EQ(info.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
    EXPECT_GE(info.dwMajorVersion, 5u);

    // Windows answers a wrong size with ERROR_INSUFFICIENT_BUFFER.
    OSVERSIONINFOA wrong{};
    wrong.dwOSVersionInfoSize = sizeof(wrong) + 4;
    EXPECT_FALSE(os.GetVersionExA(&wrong));
    EXPECT_EQ(os.GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(wrong.dwMajorVersion, 0u);
}

TEST(Win32Platform, TextConversionSizesThenConverts) {
    Win32Platform os;
    const wchar_t text[] = L"LPT1 \u00e9";  // in every ANSI code page Wine and Windows use here
    const int needed = os.WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    ASSERT_GE(needed, 7);  // 6 characters and the terminator; é may take two bytes

    std::string ansi(static_cast<size_t>(needed), '\0');
    EXPECT_EQ(os.WideCharToMultiByte(CP_ACP, 0, text, -1, ansi.data(), needed, nullptr, nullptr),
              needed);
    EXPECT_EQ(ansi.substr(0, 5), "LPT1 ");
    EXPECT_EQ(ansi.back(), '\0');

    char small[4];
    EXPECT_EQ(os.WideCharToMultiByte(CP_ACP, 0, text, -1, small, sizeof(small), nullptr, nullptr),
              0);
    EXPECT_EQ(os.GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST(Win32Platform, LocalMemoryComesZeroed) {
    Win32Platform os;
    auto* bytes = static_cast<unsigned char*>(os.LocalAlloc(LMEM_ZEROINIT, 300));
    ASSERT_NE(bytes, nullptr);
    size_t nonZero = 0;
    for (size_t i = 0; i < 300; ++i) {
        nonZero += bytes[i] != 0 ? 1 : 0;
    }
    EXPECT_EQ(nonZero, 0u);
    EXPECT_EQ(os.LocalFree(bytes), nullptr);
}

TEST(Win32Platform, UsbPrinterClassWithoutPrintersEndsAtOnce) {
    Win32Platform os;
    HDEVINFO set = os.SetupDiGetClassDevsA(&kGuidDevinterfaceUsbPrint, nullptr, nullptr,
                                           DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);

    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof(data);
    EXPECT_FALSE(
        os.SetupDiEnumDeviceInterfaces(set, nullptr, &kGuidDevinterfaceUsbPrint, 0, &data));
    EXPECT_EQ(os.GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));

    // A record sized for the other architecture is refused before anything
    // else: Windows says ERROR_INVALID_USER_BUFFER, Wine ERROR_INVALID_PARAMETER.
    data.cbSize = sizeof(void*) == 4 ? 32 : 28;
    EXPECT_FALSE(
        os.SetupDiEnumDeviceInterfaces(set, nullptr, &kGuidDevinterfaceUsbPrint, 0, &data));
    const DWORD error = os.GetLastError();
    EXPECT_TRUE(error == ERROR_INVALID_USER_BUFFER || error == ERROR_INVALID_PARAMETER) << error;

    EXPECT_TRUE(os.SetupDiDestroyDeviceInfoList(set));
}

}  // namespace
}  // namespace zelp
