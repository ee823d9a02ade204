// Small helpers for driving a SimPlatform directly through its Windows calls.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "native/platform/sim/sim_platform.h"

namespace zelp::sim::testing {

inline HANDLE Open(SimPlatform& sim, const char* path) {
    return sim.CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
}

inline void SetTimeouts(SimPlatform& sim, HANDLE port, DWORD readMs, DWORD writeMs) {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadTotalTimeoutConstant = readMs;
    timeouts.WriteTotalTimeoutConstant = writeMs;
    ASSERT_TRUE(sim.SetCommTimeouts(port, &timeouts));
}

// One overlapped transfer with its own event, as the port logic makes them.
struct Overlapped {
    Overlapped(SimPlatform& s, HANDLE p) : sim(s), port(p) {
        record.hEvent = sim.CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    ~Overlapped() { sim.CloseHandle(record.hEvent); }

    BOOL Write(std::string_view bytes) {
        return sim.WriteFile(port, bytes.data(), static_cast<DWORD>(bytes.size()), &count, &record);
    }
    BOOL Read(DWORD length) { return sim.ReadFile(port, buffer, length, &count, &record); }
    DWORD Wait(DWORD ms) { return sim.WaitForSingleObject(record.hEvent, ms); }
    BOOL Result(BOOL wait) { return sim.GetOverlappedResult(port, &record, &count, wait); }
    std::string Bytes() const { return std::string(buffer, count); }

    SimPlatform& sim;
    HANDLE port;
    OVERLAPPED record{};
    DWORD count = 0;
    char buffer[256] = {};
};

}  // namespace zelp::sim::testing
