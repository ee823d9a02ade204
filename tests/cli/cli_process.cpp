#include "cli_process.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace zelp::cli::testing {

namespace {

namespace fs = std::filesystem;

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A terminal pair: the master for the test, the slave path for the program.
int OpenTerminal(std::string& slave) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        throw std::runtime_error("no pty for the program's terminal");
    }
    slave = ::ptsname(master);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    return master;
}

// In the child: one file as one standard stream.
void Redirect(const std::string& path, int flags, int target) {
    const int fd = ::open(path.c_str(), flags | O_NOCTTY, 0644);
    if (fd < 0 || ::dup2(fd, target) < 0) {
        ::_exit(126);
    }
    ::close(fd);
}

void DropToUser(uid_t user) {
    if (::geteuid() != 0) {
        return;
    }
    const gid_t group = static_cast<gid_t>(user);
    if (::setgroups(0, nullptr) != 0 || ::setgid(group) != 0 || ::setuid(user) != 0) {
        ::_exit(125);
    }
}

// A cross build's program cannot be started directly: it runs under the
// emulator its tests run under, as ctest runs them.
std::vector<std::string> LauncherWords() {
#ifdef ZELP_CLI_LAUNCHER
    return {ZELP_CLI_LAUNCHER};
#else
    return {};
#endif
}

[[noreturn]] void ExecProgram(const CliLaunch& launch, const std::string& dir,
                              const std::string& terminal) {
    Redirect(launch.bStdinIsTerminal ? terminal : dir + "/stdin", O_RDONLY, STDIN_FILENO);
    Redirect(dir + "/stdout", O_WRONLY | O_CREAT | O_TRUNC, STDOUT_FILENO);
    Redirect(launch.bErrIsTerminal ? terminal : dir + "/stderr", O_WRONLY | O_CREAT | O_TRUNC,
             STDERR_FILENO);
    if (launch.runAsUser) {
        DropToUser(*launch.runAsUser);
    }
    if (::chdir("/") != 0) {
        ::_exit(124);
    }
    std::vector<std::string> words = LauncherWords();
    words.push_back(CliPath());
    words.insert(words.end(), launch.args.begin(), launch.args.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
}

}  // namespace

const char* CliPath() {
    return ZELP_CLI_PATH;
}

CliProcess::CliProcess(const CliLaunch& launch) {
    std::string pattern = (fs::temp_directory_path() / "zelp-cli-run-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    m_strDir = pattern;
    m_bErrIsTerminal = launch.bErrIsTerminal;
    // The program may run as another user: it must reach its own files.
    fs::permissions(m_strDir, fs::perms::all);
    std::ofstream(m_strDir + "/stdin", std::ios::binary) << launch.stdinBytes;
    std::string terminal;
    if (launch.bErrIsTerminal || launch.bStdinIsTerminal) {
        m_terminal = OpenTerminal(terminal);
    }
    m_pid = ::fork();
    if (m_pid == 0) {
        ExecProgram(launch, m_strDir, terminal);
    }
    if (m_pid < 0) {
        throw std::runtime_error("fork failed");
    }
}

CliProcess::~CliProcess() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    if (m_terminal >= 0) {
        ::close(m_terminal);
    }
    std::error_code ignored;
    fs::remove_all(m_strDir, ignored);
}

void CliProcess::Drain() {
    if (m_terminal < 0) {
        return;
    }
    char chunk[4096];
    ssize_t n;
    while ((n = ::read(m_terminal, chunk, sizeof chunk)) > 0) {
        m_strTerminalOutput.append(chunk, static_cast<size_t>(n));
    }
}

CliResult CliProcess::Finish() {
    CliResult result;
    int status = 0;
    // A bound only against a program that hangs; every case ends in seconds.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (::waitpid(m_pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > giveUp) {
            ::kill(m_pid, SIGKILL);
        }
        Drain();
        pollfd ready{m_terminal, POLLIN, 0};
        ::poll(&ready, m_terminal >= 0 ? 1 : 0, 20);
    }
    m_pid = -1;
    Drain();
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = ReadWhole(m_strDir + "/stdout");
    result.err = m_bErrIsTerminal ? m_strTerminalOutput : ReadWhole(m_strDir + "/stderr");
    return result;
}

CliResult RunCli(const CliLaunch& launch) {
    CliProcess process(launch);
    return process.Finish();
}

CliResult RunCli(const std::vector<std::string>& args, const std::string& stdinBytes) {
    CliLaunch launch;
    launch.args = args;
    launch.stdinBytes = stdinBytes;
    return RunCli(launch);
}

}  // namespace zelp::cli::testing
