#include "linux_fixture.h"

#include <poll.h>
#include <unistd.h>

#include <filesystem>

#include "fake_sysfs.h"

namespace zelp::reliability {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {
int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
        .count();
}
}  // namespace

PtyPrinter::PtyPrinter() : m_drain([this] { Drain(); }) {}

PtyPrinter::~PtyPrinter() {
    m_bStop.store(true);
    m_drain.join();
}

void PtyPrinter::HangUp() {
    m_bHangUp.store(true);
    // The drain thread closes the master, so no read races with the close.
    while (!m_bGone.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void PtyPrinter::AnswerWith(std::string trigger, std::string reply) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_trigger = std::move(trigger);
    m_reply = std::move(reply);
}

void PtyPrinter::Send(const std::string& bytes) {
    m_pty.Write(bytes);
}

std::string PtyPrinter::Received() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_received;
}

bool PtyPrinter::WaitForBytes(size_t count, std::chrono::milliseconds limit) {
    const auto until = Clock::now() + limit;
    while (Clock::now() < until) {
        if (Received().size() >= count) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

void PtyPrinter::WaitUntilQuiet(std::chrono::milliseconds quiet) {
    m_lastByteMs.store(NowMs());
    while (NowMs() - m_lastByteMs.load() < quiet.count()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void PtyPrinter::Drain() {
    char chunk[8192];
    while (!m_bStop.load()) {
        if (m_bHangUp.load()) {
            m_pty.CloseMaster();
            m_bGone.store(true);
            return;
        }
        if (!m_bReading.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            continue;
        }
        pollfd ready{m_pty.Master(), POLLIN, 0};
        if (::poll(&ready, 1, 5) <= 0) {
            continue;
        }
        const ssize_t n = ::read(m_pty.Master(), chunk, sizeof(chunk));
        if (n <= 0) {
            continue;
        }
        m_lastByteMs.store(NowMs());
        std::string reply;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_received.append(chunk, static_cast<size_t>(n));
            if (!m_trigger.empty() && m_received.ends_with(m_trigger)) {
                reply = m_reply;
            }
        }
        if (!reply.empty()) {
            m_pty.Write(reply);
        }
    }
}

void FakeUsbTree::AddPrinter(unsigned number, const char* vendorHex, const char* productHex,
                             const char* serial, const std::string& node) {
    testsupport::AddFakeUsbPrinter(m_dir.Path(), number, vendorHex, productHex, serial, node);
}

}  // namespace zelp::reliability
