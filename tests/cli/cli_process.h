// Runs the zelp program as a person or a script would: arguments, standard
// input, standard error on a terminal or not, possibly as another user; and
// collects its output and exit status. The test plays the printer meanwhile.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace zelp::cli::testing {

struct CliResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

struct CliLaunch {
    std::vector<std::string> args;
    std::string stdinBytes;          // what standard input holds
    bool bStdinIsTerminal = false;   // standard input from a terminal instead
    bool bErrIsTerminal = false;     // standard error to a terminal
    std::optional<uid_t> runAsUser;  // dropped to (with the same group id) when root
};

// One run: Start() returns at once, Finish() waits for the end.
class CliProcess {
public:
    explicit CliProcess(const CliLaunch& launch);
    ~CliProcess();
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    CliResult Finish();

private:
    void Drain();

    pid_t m_pid = -1;
    std::string m_strDir;
    bool m_bErrIsTerminal = false;
    int m_terminal = -1;  // master side of the program's terminal
    std::string m_strTerminalOutput;
};

// Start and finish in one.
CliResult RunCli(const CliLaunch& launch);
CliResult RunCli(const std::vector<std::string>& args, const std::string& stdinBytes = "");

// The path of the program under test.
const char* CliPath();

}  // namespace zelp::cli::testing
