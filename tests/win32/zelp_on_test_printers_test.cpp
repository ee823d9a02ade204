// zelp.exe on the test printers' driver: the program as a person runs it,
// with Wine's SetupAPI and I/O manager between it and the devices. Each test
// starts the program, then checks its exit status, what it printed, and what
// reached the devices.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "test_printers_client.h"

namespace zelp::test {
namespace {

constexpr LONG kStatusSuccess = 0;
constexpr ULONG kMajorWrite = 0x04;
constexpr BYTE kSelected = 0x80;  // PARALLEL_SELECTED
constexpr BYTE kOffLine = 0x08;   // PARALLEL_OFF_LINE

const char kNumberedPath[] =
    "\\\\?\\usb#vid_1234&pid_5678#123456#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";

struct Outcome {
    DWORD code = 0xffffffffu;
    std::string out;  // standard output and error, in that order
};

std::string FolderOfThisProgram() {
    char self[MAX_PATH] = {};
    const std::string path(self, ::GetModuleFileNameA(nullptr, self, MAX_PATH));
    return path.substr(0, path.find_last_of('\\') + 1);
}

std::string TemporaryFile() {
    char folder[MAX_PATH] = {};
    char name[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, folder);
    ::GetTempFileNameA(folder, "zlp", 0, name);
    return name;
}

std::string ReadWhole(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

HANDLE InheritableFile(const std::string& path) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                         CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr);
}

HANDLE InheritableInput(const std::string& path) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return path.empty() ? nullptr
                        : ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, &inherit,
                                        OPEN_EXISTING, 0, nullptr);
}

// Runs zelp.exe (beside this program) with `args`, its standard input the
// file `inputPath` (none when empty).
Outcome RunZelp(const std::string& args, const std::string& inputPath = "") {
    const std::string program = FolderOfThisProgram() + "zelp.exe";
    const std::string outPath = TemporaryFile();
    const std::string errPath = TemporaryFile();
    HANDLE out = InheritableFile(outPath);
    HANDLE err = InheritableFile(errPath);
    HANDLE in = InheritableInput(inputPath);
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out;
    startup.hStdError = err;
    startup.hStdInput = in;
    PROCESS_INFORMATION process{};
    std::string line = "\"" + program + "\" " + args;
    Outcome outcome;
    if (::CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                         &startup, &process)) {
        ::WaitForSingleObject(process.hProcess, 60000);
        ::GetExitCodeProcess(process.hProcess, &outcome.code);
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    }
    ::CloseHandle(out);
    ::CloseHandle(err);
    if (in != nullptr) {
        ::CloseHandle(in);
    }
    outcome.out = ReadWhole(outPath) + ReadWhole(errPath);
    ::DeleteFileA(outPath.c_str());
    ::DeleteFileA(errPath.c_str());
    return outcome;
}

// A job whose bytes a text-mode read would change: CR LF pairs and Ctrl-Z
// (end of file to a text stream) at the start of every block.
std::vector<BYTE> JobBytes(size_t size) {
    std::vector<BYTE> job(size);
    for (size_t i = 0; i < size; ++i) {
        job[i] = i % 7 == 0 ? 0x1a : i % 5 == 0 ? '\r' : i % 5 == 1 ? '\n' : static_cast<BYTE>(i);
    }
    return job;
}

class ZelpOnTestPrinters : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_printers.IsOpen()) << kNoDriverHint;
        ASSERT_TRUE(m_printers.Reset()) << "the test printers did not return to their defaults";
        // What the printer without a serial number answers when asked for one.
        ASSERT_TRUE(m_printers.Script(ZELP_TEST_PRINTER_UNNUMBERED, [](zelp_test_script& s) {
            const std::string reply = "7a777\r";
            s.reply_length = static_cast<ULONG>(reply.size());
            std::copy(reply.begin(), reply.end(), s.reply);
            s.read_status = kStatusSuccess;
        }));
    }

    void TearDown() override {
        if (!m_jobPath.empty()) {
            ::DeleteFileA(m_jobPath.c_str());
        }
    }

    std::string WriteJob(const std::vector<BYTE>& job) {
        m_jobPath = TemporaryFile();
        std::ofstream(m_jobPath, std::ios::binary)
            .write(reinterpret_cast<const char*>(job.data()),
                   static_cast<std::streamsize>(job.size()));
        return m_jobPath;
    }

    // Each write's length, and that its first bytes are the job's at its place.
    void ExpectWrites(ULONG device, const std::vector<BYTE>& job,
                      const std::vector<ULONG>& lengths) {
        std::vector<ULONG> seen;
        size_t at = 0;
        for (const zelp_test_request& entry : m_printers.Log()) {
            if (entry.device != device || entry.event != ZELP_TEST_ARRIVED ||
                entry.major != kMajorWrite) {
                continue;
            }
            seen.push_back(entry.length);
            const size_t logged = std::min<size_t>(entry.length, ZELP_TEST_LOGGED_BYTES);
            ASSERT_LE(at + logged, job.size());
            EXPECT_EQ(std::vector<BYTE>(entry.bytes, entry.bytes + logged),
                      std::vector<BYTE>(job.begin() + at, job.begin() + at + logged))
                << "the write at byte " << at;
            at += entry.length;
        }
        EXPECT_EQ(seen, lengths);
    }

    TestPrinters m_printers;
    std::string m_jobPath;
};

struct Expectation {
    const char* args;
    DWORD code;
    std::vector<const char*> says;  // each must appear in the output
};

void ExpectEach(const std::vector<Expectation>& cases) {
    for (const Expectation& c : cases) {
        const Outcome outcome = RunZelp(c.args);
        EXPECT_EQ(outcome.code, c.code) << "zelp " << c.args << "\n" << outcome.out;
        for (const char* text : c.says) {
            EXPECT_NE(outcome.out.find(text), std::string::npos)
                << "zelp " << c.args << " should say: " << text << "\nit said:\n"
                << outcome.out;
        }
    }
}

TEST_F(ZelpOnTestPrinters, ListShowsEveryPrinterAndFlagsTheOneAnotherDriverTook) {
    const std::string numbered = std::string("1234:5678\t123456\t") + kNumberedPath +
                                 "\tusable\tUSB\\VID_1234&PID_5678\\123456";
    const std::string generated = "1234:5678\t-\t\\\\?\\usb#vid_1234&pid_5678#0&2a1b3c4d&0&2#";
    ExpectEach({
        {"list",
         0,
         {numbered.c_str(), generated.c_str(), "1234:abcd\t123456\t\\\\?\\usb#vid_1234&pid_abcd",
          "1234:cafe\tWINUSB01\t-\tdriver=WinUSB\tUSB\\VID_1234&PID_CAFE\\WINUSB01"}},
        {"list 0x1234 0x5678", 0, {"2 printers 1234:5678", "serial 123456", "serial 777"}},
        {"list 0x1234 0xbeef", 2, {"no USB printer 1234:beef"}},
        {"detect 0x1234 0x5678 123456", 0, {"present: USB printer 1234:5678 serial 123456"}},
        {"detect 0x1234 0xabcd 654321", 2, {"not present"}},
    });
}

TEST_F(ZelpOnTestPrinters, DoctorNamesTheDriverThatTookThePrinterAndTheWayBack) {
    ExpectEach({
        // Everything present: the first cause found sets the status.
        {"doctor",
         2,
         {"1234:cafe serial WINUSB01", "WinUSB", "no USB printing support interface",
          "Update driver", "'USB Printing Support'", "pnputil", "serial 123456 (", "): ready",
          "LPT9 (\\\\.\\LPT9): ready"}},
        {"doctor 0x1234 0xcafe", 2, {"WinUSB", "Let me pick > 'USB Printing Support'"}},
        {"doctor 0x1234 0x5678 123456", 0, {"serial 123456", "ready"}},
        {"doctor 0x1234 0xbeef", 2, {"no USB printer 1234:beef", "zelp list"}},
        {"doctor LPT9", 0, {"LPT9 (\\\\.\\LPT9): ready"}},
        {"doctor LPT7", 2, {"Windows has no port LPT7", "Ports (COM & LPT)"}},
        {"status LPT7", 2, {"cannot open LPT7", "Ports (COM & LPT)"}},
    });
}

TEST_F(ZelpOnTestPrinters, SendToAUsbPrinterDeliversTheFileByteForByte) {
    const std::vector<BYTE> job = JobBytes(20000);
    const std::string path = WriteJob(job);

    const Outcome outcome = RunZelp("send --usb 0x1234 0x5678 123456 \"" + path + "\"");

    EXPECT_EQ(outcome.code, 0u) << outcome.out;
    EXPECT_NE(outcome.out.find("sent 19.5 KiB (20000 bytes) from " + path +
                               " to USB printer 1234:5678 serial 123456 in "),
              std::string::npos)
        << outcome.out;
    // Blocks of 16 KiB, each waited for.
    ExpectWrites(ZELP_TEST_PRINTER_NUMBERED, job, {16384, 3616});
}

// Standard input too is read as bytes, not as text.
TEST_F(ZelpOnTestPrinters, SendToTheParallelPortDeliversStandardInputByteForByte) {
    const std::vector<BYTE> job = JobBytes(10000);
    const std::string path = WriteJob(job);

    const Outcome outcome = RunZelp("send --port LPT9 -", path);

    EXPECT_EQ(outcome.code, 0u) << outcome.out;
    EXPECT_NE(outcome.out.find("sent 9.8 KiB (10000 bytes) from standard input to printer on "
                               "LPT9 (\\\\.\\LPT9) in "),
              std::string::npos)
        << outcome.out;
    ExpectWrites(ZELP_TEST_PARALLEL, job, {4096, 4096, 1808});
}

TEST_F(ZelpOnTestPrinters, StatusReadsThePortsStatusByte) {
    struct Case {
        BYTE status;
        DWORD code;
        const char* says;
    };
    for (const Case& c :
         {Case{kSelected, 0, "LPT9 (\\\\.\\LPT9): on line\r\n  status 0x80: selected"},
          Case{kOffLine, 6, "LPT9 (\\\\.\\LPT9): off line\r\n  status 0x08: off line"}}) {
        ASSERT_TRUE(m_printers.Script(ZELP_TEST_PARALLEL,
                                      [&](zelp_test_script& s) { s.status_byte = c.status; }));
        const Outcome outcome = RunZelp("status LPT9");
        EXPECT_EQ(outcome.code, c.code) << outcome.out;
        EXPECT_NE(outcome.out.find(c.says), std::string::npos) << outcome.out;
    }
}

}  // namespace
}  // namespace zelp::test
