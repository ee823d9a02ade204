// The DLL's exports on the test printers' driver: Wine's own SetupAPI and
// I/O manager between the library and a kernel driver that does as each test
// scripts and logs every request it gets.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "fake_jni_env.h"
#include "loaded_library.h"
#include "test_printers_client.h"

namespace zelp::test {

// Completion statuses the scripts use.
inline constexpr LONG kStatusSuccess = 0;
// An error (NT_ERROR): Wine reports the count but copies no bytes back.
inline constexpr LONG kStatusDataError = static_cast<LONG>(0xC000009Cu);
// A warning (NT_WARNING): the bytes come back with the count.
inline constexpr LONG kStatusBufferOverflow = static_cast<LONG>(0x80000005u);
inline constexpr LONG kStatusDeviceNotConnected = static_cast<LONG>(0xC000009Du);
inline constexpr LONG kStatusInvalidDeviceRequest = static_cast<LONG>(0xC0000010u);

// IRP_MJ_CREATE, IRP_MJ_READ, IRP_MJ_WRITE.
inline constexpr ULONG kMajorCreate = 0x00;
inline constexpr ULONG kMajorRead = 0x03;
inline constexpr ULONG kMajorWrite = 0x04;

inline FakeString JavaText(const std::string& text) {
    return FakeString{std::u16string(text.begin(), text.end())};
}

inline std::vector<BYTE> LoggedBytes(const zelp_test_request& entry) {
    const size_t count = std::min<size_t>(entry.length, ZELP_TEST_LOGGED_BYTES);
    return std::vector<BYTE>(entry.bytes, entry.bytes + count);
}

class OnTestPrinters : public LoadedLibrary {
protected:
    void SetUp() override {
        LoadedLibrary::SetUp();
        ASSERT_FALSE(HasFatalFailure());
        ASSERT_TRUE(m_printers.IsOpen()) << kNoDriverHint;
        ASSERT_TRUE(m_printers.Reset()) << "the test printers did not return to their defaults";
    }

    // The requests of one kind that reached a device, as they arrived.
    std::vector<zelp_test_request> Arrived(ULONG device, ULONG major) {
        std::vector<zelp_test_request> found;
        for (const zelp_test_request& entry : m_printers.Log()) {
            if (entry.device == device && entry.event == ZELP_TEST_ARRIVED &&
                entry.major == major) {
                found.push_back(entry);
            }
        }
        return found;
    }

    bool HasRequest(ULONG device, const std::string& line) {
        const std::vector<std::string> lines = m_printers.Requests(device);
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    // The reply every read of the device gets.
    bool ScriptReply(ULONG device, const std::string& reply, ULONG completion, LONG status) {
        return m_printers.Script(device, [&](zelp_test_script& script) {
            script.read_completion = completion;
            script.read_status = status;
            script.reply_length = static_cast<ULONG>(reply.size());
            std::copy(reply.begin(), reply.end(), script.reply);
        });
    }

    FakeJniEnv m_jni;
    JNIEnv* const m_env = m_jni.Env();
    TestPrinters m_printers;
};

}  // namespace zelp::test
