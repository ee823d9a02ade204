// The printer's side of a USB printer gadget (/dev/g_printerN) in the kernel
// suite's machine: what the host's usblp talks to. It records every byte the
// host sends, answers the identity command, and does what the tests ask over
// a control socket: stop or resume reading, set the port status, send bytes
// to the host, unplug and plug the gadget.
//
//   zelp_gadget_printer serve NODE RECORD SOCKET GADGET_DIR UDC [IDENTITY]
//   zelp_gadget_printer ctl SOCKET WORD...      one command, its answer on stdout
//
// Commands (one line each, answered by one line "ok ..." or "error ..."):
//   read on|off      take the host's data, or leave it in the gadget's queue
//   status HEX       GADGET_SET_PRINTER_STATUS (0x08 not error, 0x10 selected,
//                    0x20 paper empty)
//   send N           N bytes of Pattern(), continuing where the last send ended,
//                    in one write(): N a multiple of 512 ends in a zero-length packet
//   received         how many bytes came since the last reset
//   wait N MS        answers once N bytes came, or after MS with what came
//   reset            forgets what came (the record file starts again)
//   identity DIGITS  the identity to answer with; "none" answers nothing
//   unplug | plug    unbinds the gadget from its UDC, or binds it again
#include <fcntl.h>
#include <linux/usb/g_printer.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <list>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr uint8_t kIdentityCommand[] = {0x1D, 'e', 'R', 'E', 'A', 'D', 'V', 'A', 'R', 'I'};
constexpr size_t kCommandSize = sizeof kIdentityCommand;
constexpr int kIdleMs = 100;

// The bytes a send carries, by their position in everything this printer sent.
uint8_t Pattern(uint64_t position) {
    return static_cast<uint8_t>(position * 7 + (position >> 8) * 3 + 1);
}

struct Client {
    int fd = -1;
    std::string input;
    // A wait in progress: answered once `target` bytes came or at `deadline`.
    bool waiting = false;
    uint64_t target = 0;
    Clock::time_point deadline;
};

struct Settings {
    std::string node;
    std::string record;
    std::string socket;
    std::string gadgetDir;
    std::string udc;
    std::string identity;
};

bool WriteWhole(int fd, const void* data, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        bytes += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool WriteTextFile(const std::string& path, const std::string& text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool ok = WriteWhole(fd, text.data(), text.size());
    ::close(fd);
    return ok;
}

class GadgetPrinter {
public:
    explicit GadgetPrinter(Settings settings) : m_settings(std::move(settings)) {}

    int Serve() {
        m_record =
            ::open(m_settings.record.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (m_record < 0 || !Listen()) {
            std::perror("gadget printer");
            return 2;
        }
        std::printf("gadget printer %s: serving on %s\n", m_settings.node.c_str(),
                    m_settings.socket.c_str());
        std::fflush(stdout);
        for (;;) {
            if (m_node < 0 && !m_unplugged) {
                OpenNode();
            }
            PollOnce();
            AnswerWaits();
        }
    }

private:
    bool Listen() {
        m_listen = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", m_settings.socket.c_str());
        ::unlink(address.sun_path);
        return m_listen >= 0 &&
               ::bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
               ::listen(m_listen, 8) == 0;
    }

    void OpenNode() {
        m_node = ::open(m_settings.node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (m_node < 0) {
            return;
        }
        struct stat info {};
        ::fstat(m_node, &info);
        m_nodeIdentity = info.st_ino;
        ApplyStatus();
    }

    void CloseNode() {
        if (m_node >= 0) {
            ::close(m_node);
            m_node = -1;
        }
        // Bytes not yet handed to the gadget are lost with it, as a
        // printer's would be.
        m_outgoing.clear();
    }

    // An unbind behind our back takes the node away; a node of the same name
    // that came back is another one.
    bool NodeStillThere() const {
        struct stat info {};
        return ::stat(m_settings.node.c_str(), &info) == 0 && info.st_ino == m_nodeIdentity;
    }

    bool ApplyStatus() {
        return m_node >= 0 && ::ioctl(m_node, GADGET_SET_PRINTER_STATUS,
                                      static_cast<unsigned long>(m_status)) >= 0;
    }

    void PollOnce() {
        std::vector<pollfd> fds;
        fds.push_back({m_listen, POLLIN, 0});
        for (const Client& client : m_clients) {
            fds.push_back({client.fd, POLLIN, 0});
        }
        const size_t nodeAt = fds.size();
        short nodeEvents = 0;
        if (m_node >= 0) {
            nodeEvents =
                static_cast<short>((m_reading ? POLLIN : 0) | (m_outgoing.empty() ? 0 : POLLOUT));
            fds.push_back({m_node, nodeEvents, 0});
        }
        const int ready = ::poll(fds.data(), fds.size(), kIdleMs);
        if (ready < 0) {
            return;
        }
        if (fds[0].revents & POLLIN) {
            Accept();
        }
        size_t index = 1;
        for (auto it = m_clients.begin(); it != m_clients.end(); ++index) {
            if (fds[index].revents != 0 && !OnClientInput(*it)) {
                ::close(it->fd);
                it = m_clients.erase(it);
            } else {
                ++it;
            }
        }
        if (m_node >= 0) {
            ServeNode(fds[nodeAt].revents);
        }
    }

    void ServeNode(short revents) {
        if ((revents & POLLIN) != 0 && m_reading) {
            ReadFromHost();
        }
        if (m_node >= 0 && (revents & POLLOUT) != 0) {
            WriteToHost();
        }
        if (m_node >= 0 && ((revents & (POLLERR | POLLNVAL)) != 0 || !NodeStillThere())) {
            CloseNode();
        }
    }

    void ReadFromHost() {
        uint8_t chunk[16384];
        const ssize_t n = ::read(m_node, chunk, sizeof chunk);
        if (n < 0) {
            if (errno != EAGAIN && errno != EINTR) {
                CloseNode();
            }
            return;
        }
        WriteWhole(m_record, chunk, static_cast<size_t>(n));
        m_received += static_cast<uint64_t>(n);
        for (ssize_t i = 0; i < n; ++i) {
            ScanForCommand(chunk[i]);
        }
    }

    // The command may come split over several reads.
    void ScanForCommand(uint8_t byte) {
        m_matched = byte == kIdentityCommand[m_matched] ? m_matched + 1
                    : byte == kIdentityCommand[0]       ? 1
                                                        : 0;
        if (m_matched == kCommandSize) {
            m_matched = 0;
            if (!m_settings.identity.empty()) {
                m_outgoing.push_back("7a" + m_settings.identity + "\r");
            }
        }
    }

    void WriteToHost() {
        std::string& front = m_outgoing.front();
        const ssize_t n = ::write(m_node, front.data(), front.size());
        if (n < 0) {
            if (errno != EAGAIN && errno != EINTR) {
                CloseNode();
            }
            return;
        }
        front.erase(0, static_cast<size_t>(n));
        if (front.empty()) {
            m_outgoing.pop_front();
        }
    }

    void Accept() {
        const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
            Client client;
            client.fd = fd;
            m_clients.push_back(std::move(client));
        }
    }

    bool OnClientInput(Client& client) {
        char chunk[512];
        const ssize_t n = ::read(client.fd, chunk, sizeof chunk);
        if (n <= 0) {
            return false;
        }
        client.input.append(chunk, static_cast<size_t>(n));
        size_t end;
        while ((end = client.input.find('\n')) != std::string::npos) {
            const std::string line = client.input.substr(0, end);
            client.input.erase(0, end + 1);
            const std::string answer = Command(client, line);
            if (!answer.empty() && !Answer(client, answer)) {
                return false;
            }
        }
        return true;
    }

    static bool Answer(Client& client, const std::string& answer) {
        const std::string line = answer + "\n";
        return WriteWhole(client.fd, line.data(), line.size());
    }

    void AnswerWaits() {
        const auto now = Clock::now();
        for (Client& client : m_clients) {
            if (client.waiting && (m_received >= client.target || now >= client.deadline)) {
                client.waiting = false;
                Answer(client, (m_received >= client.target ? "ok " : "error ") +
                                   std::to_string(m_received));
            }
        }
    }

    // The answer to one command; empty when it comes later (wait).
    std::string Command(Client& client, const std::string& line) {
        using Handler = std::string (GadgetPrinter::*)(Client&, std::istringstream&);
        static const std::map<std::string, Handler> kHandlers = {
            {"read", &GadgetPrinter::Read},         {"status", &GadgetPrinter::Status},
            {"send", &GadgetPrinter::Send},         {"received", &GadgetPrinter::Received},
            {"wait", &GadgetPrinter::Wait},         {"reset", &GadgetPrinter::Reset},
            {"identity", &GadgetPrinter::Identity}, {"unplug", &GadgetPrinter::Unplug},
            {"plug", &GadgetPrinter::Plug},
        };
        std::istringstream words(line);
        std::string verb;
        words >> verb;
        const auto handler = kHandlers.find(verb);
        if (handler == kHandlers.end()) {
            return "error unknown command: " + line;
        }
        return (this->*handler->second)(client, words);
    }

    std::string Read(Client&, std::istringstream& words) {
        std::string state;
        words >> state;
        m_reading = state == "on";
        return "ok";
    }

    std::string Status(Client&, std::istringstream& words) {
        std::string value;
        words >> value;
        m_status = static_cast<uint8_t>(std::strtoul(value.c_str(), nullptr, 0));
        return ApplyStatus() ? "ok" : "error " + std::string(std::strerror(errno));
    }

    std::string Send(Client&, std::istringstream& words) {
        size_t count = 0;
        words >> count;
        std::string bytes(count, '\0');
        for (char& byte : bytes) {
            byte = static_cast<char>(Pattern(m_sentPosition++));
        }
        m_outgoing.push_back(std::move(bytes));
        return "ok";
    }

    std::string Received(Client&, std::istringstream&) {
        return "ok " + std::to_string(m_received);
    }

    std::string Wait(Client& client, std::istringstream& words) {
        long ms = 0;
        words >> client.target >> ms;
        client.deadline = Clock::now() + std::chrono::milliseconds(ms);
        client.waiting = true;
        return "";
    }

    std::string Reset(Client&, std::istringstream&) {
        m_received = 0;
        m_sentPosition = 0;
        m_matched = 0;
        const bool emptied = ::ftruncate(m_record, 0) == 0 && ::lseek(m_record, 0, SEEK_SET) == 0;
        return emptied ? "ok" : "error truncate";
    }

    std::string Identity(Client&, std::istringstream& words) {
        words >> m_settings.identity;
        if (m_settings.identity == "none") {
            m_settings.identity.clear();
        }
        return "ok";
    }

    std::string Unplug(Client&, std::istringstream&) {
        CloseNode();
        m_unplugged = true;
        return WriteTextFile(m_settings.gadgetDir + "/UDC", "\n") ? "ok" : "error unbind";
    }

    // Binds the gadget again and opens its node once it is back.
    std::string Plug(Client&, std::istringstream&) {
        if (!WriteTextFile(m_settings.gadgetDir + "/UDC", m_settings.udc + "\n")) {
            return "error bind";
        }
        m_unplugged = false;
        const auto deadline = Clock::now() + 10s;
        while (m_node < 0 && Clock::now() < deadline) {
            OpenNode();
            if (m_node < 0) {
                std::this_thread::sleep_for(20ms);
            }
        }
        return m_node >= 0 ? "ok" : "error no node after bind";
    }

    Settings m_settings;
    int m_listen = -1;
    int m_record = -1;
    int m_node = -1;
    ino_t m_nodeIdentity = 0;
    bool m_unplugged = false;
    bool m_reading = true;
    uint8_t m_status = PRINTER_SELECTED | PRINTER_NOT_ERROR;
    uint64_t m_received = 0;
    uint64_t m_sentPosition = 0;
    size_t m_matched = 0;
    std::deque<std::string> m_outgoing;
    std::list<Client> m_clients;
};

int Control(const std::string& socketPath, int argc, char** argv) {
    std::string line;
    for (int i = 0; i < argc; ++i) {
        line += (i ? " " : "") + std::string(argv[i]);
    }
    line += "\n";
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        !WriteWhole(fd, line.data(), line.size())) {
        std::perror(socketPath.c_str());
        return 2;
    }
    std::string answer;
    char c;
    while (::read(fd, &c, 1) == 1 && c != '\n') {
        answer.push_back(c);
    }
    ::close(fd);
    std::printf("%s\n", answer.c_str());
    return answer.rfind("ok", 0) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "serve" && (argc == 7 || argc == 8)) {
        Settings settings{argv[2], argv[3], argv[4], argv[5], argv[6], argc == 8 ? argv[7] : ""};
        return GadgetPrinter(std::move(settings)).Serve();
    }
    if (mode == "ctl" && argc >= 4) {
        return Control(argv[2], argc - 3, argv + 3);
    }
    std::fprintf(stderr,
                 "usage: zelp_gadget_printer serve NODE RECORD SOCKET GADGET_DIR UDC [IDENTITY]\n"
                 "       zelp_gadget_printer ctl SOCKET WORD...\n");
    return 1;
}
