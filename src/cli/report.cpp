#include "cli/report.h"

#include <array>
#include <cstdio>

namespace zelp::cli {

namespace {

struct ErrorName {
    DWORD code;
    const char* text;
};

constexpr std::array<ErrorName, 14> kErrorNames = {{
    {ERROR_FILE_NOT_FOUND, "no such device"},
    {ERROR_PATH_NOT_FOUND, "no such device"},
    {ERROR_ACCESS_DENIED, "permission denied"},
    {ERROR_SHARING_VIOLATION, "in use by another program"},
    {ERROR_DEV_NOT_EXIST, "the device is not there"},
    {ERROR_DEVICE_NOT_CONNECTED, "the device is not connected"},
    {ERROR_GEN_FAILURE, "the device failed"},
    {ERROR_NOT_SUPPORTED, "not supported by the device"},
    {ERROR_INVALID_PARAMETER, "invalid parameter"},
    {ERROR_NOT_ENOUGH_MEMORY, "out of memory or file handles"},
    {ERROR_BROKEN_PIPE, "the other end hung up"},
    {ERROR_SEM_TIMEOUT, "the device timed out"},
    {ERROR_OPERATION_ABORTED, "cancelled at the time-out"},
    {ERROR_INVALID_HANDLE, "the device was closed"},
}};

struct StatusBit {
    BYTE bit;
    const char* word;
};

// Most telling first: what stops a job before what merely describes the port.
constexpr std::array<StatusBit, 8> kStatusBits = {{
    {PARALLEL_POWER_OFF, "powered off"},
    {PARALLEL_NOT_CONNECTED, "not connected"},
    {PARALLEL_OFF_LINE, "off line"},
    {PARALLEL_PAPER_EMPTY, "paper out"},
    {PARALLEL_BUSY, "busy"},
    {PARALLEL_SELECTED, "selected"},
    {PARALLEL_AUTOFEED, "auto-feed"},
    {PARALLEL_INIT, "initialising"},
}};

std::string Printf(const char* format, double value, const char* unit) {
    char text[32];
    std::snprintf(text, sizeof text, format, value, unit);
    return text;
}

}  // namespace

std::string DescribeError(DWORD error) {
    for (const ErrorName& name : kErrorNames) {
        if (name.code == error) {
            return std::string(name.text) + " (error " + std::to_string(error) + ")";
        }
    }
    return "error " + std::to_string(error);
}

ExitCode ExitCodeForOpenError(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_DEVICE_NOT_CONNECTED:
            return ExitCode::kNoPrinter;
        case ERROR_SHARING_VIOLATION:
            return ExitCode::kBusy;
        case ERROR_ACCESS_DENIED:
            return ExitCode::kPermission;
        default:
            return ExitCode::kIoFailure;
    }
}

std::string StatusWords(BYTE status) {
    std::string words;
    for (const StatusBit& bit : kStatusBits) {
        if ((status & bit.bit) != 0) {
            words += words.empty() ? "" : ", ";
            words += bit.word;
        }
    }
    return words.empty() ? "no status bits set" : words;
}

std::string FormatModel(const UsbModel& model) {
    char text[16];
    std::snprintf(text, sizeof text, "%04x:%04x", model.vendorId, model.productId);
    return text;
}

std::string ModelArguments(const UsbModel& model) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04x 0x%04x", model.vendorId, model.productId);
    return text;
}

std::string FormatBytes(uint64_t bytes) {
    constexpr double kKiB = 1024.0;
    if (bytes < 1024) {
        return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    }
    const double value = static_cast<double>(bytes);
    if (value < kKiB * kKiB) {
        return Printf("%.1f %s", value / kKiB, "KiB");
    }
    if (value < kKiB * kKiB * kKiB) {
        return Printf("%.1f %s", value / (kKiB * kKiB), "MiB");
    }
    return Printf("%.1f %s", value / (kKiB * kKiB * kKiB), "GiB");
}

std::string ProgressLine(uint64_t sent, std::optional<uint64_t> total, size_t width) {
    if (!total.has_value()) {
        return FormatBytes(sent) + " sent";
    }
    const uint64_t whole = *total == 0 ? 1 : *total;
    const uint64_t done = sent > whole ? whole : sent;
    const auto filled = static_cast<size_t>(done * width / whole);
    const auto percent = static_cast<unsigned>(done * 100 / whole);
    char figures[8];
    std::snprintf(figures, sizeof figures, "%3u%%", percent);
    return "[" + std::string(filled, '#') + std::string(width - filled, '-') + "] " + figures +
           "  " + FormatBytes(sent) + " of " + FormatBytes(*total);
}

}  // namespace zelp::cli
