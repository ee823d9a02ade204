#include "cli/arguments.h"

#include <charconv>
#include <limits>

namespace zelp::cli {

namespace {

// The options gathered in one pass; which command may take which is checked
// afterwards, so the messages can name the command.
struct Gathered {
    bool bHelp = false;
    bool bVersion = false;
    std::vector<std::string> operands;
    std::optional<std::vector<std::string>> usb;  // VENDOR PRODUCT SERIAL
    std::optional<std::string> port;
    std::optional<std::string> timeout;
    std::string sysfsRoot;
    std::string devRoot;
};

class ArgumentReader {
public:
    explicit ArgumentReader(const std::vector<std::string>& args) : m_args(args) {}

    bool Done() const { return m_next >= m_args.size(); }
    const std::string& Next() { return m_args[m_next++]; }

    // The value of an option: after '=' when given so, else the next argument.
    std::optional<std::string> ValueOf(const std::string& option, std::string& error) {
        const size_t eq = m_current.find('=');
        if (eq != std::string::npos) {
            return m_current.substr(eq + 1);
        }
        if (Done()) {
            error = option + " needs a value";
            return std::nullopt;
        }
        return Next();
    }

    void SetCurrent(const std::string& arg) { m_current = arg; }

private:
    const std::vector<std::string>& m_args;
    size_t m_next = 0;
    std::string m_current;
};

bool IsOption(const std::string& arg, std::string_view name) {
    return arg == name || (arg.size() > name.size() && arg.compare(0, name.size(), name) == 0 &&
                           arg[name.size()] == '=');
}

// One option and its values; false with `error` set for a bad one.
bool ReadOption(ArgumentReader& reader, const std::string& arg, Gathered& got, std::string& error) {
    reader.SetCurrent(arg);
    if (arg == "--help" || arg == "-h") {
        got.bHelp = true;
        return true;
    }
    if (arg == "--version") {
        got.bVersion = true;
        return true;
    }
    if (arg == "--usb") {
        std::vector<std::string> values;
        while (values.size() < 3 && !reader.Done()) {
            values.push_back(reader.Next());
        }
        if (values.size() < 3) {
            error = "--usb needs VENDOR PRODUCT SERIAL";
            return false;
        }
        got.usb = values;
        return true;
    }
    struct Valued {
        std::string_view name;
        std::optional<std::string>* target;
    };
    std::optional<std::string> sysfs;
    std::optional<std::string> dev;
    for (const Valued& option : {Valued{"--port", &got.port}, Valued{"--timeout", &got.timeout},
                                 Valued{"--sysfs-root", &sysfs}, Valued{"--dev-root", &dev}}) {
        if (!IsOption(arg, option.name)) {
            continue;
        }
        *option.target = reader.ValueOf(std::string(option.name), error);
        if (!option.target->has_value()) {
            return false;
        }
        got.sysfsRoot = sysfs.value_or(got.sysfsRoot);
        got.devRoot = dev.value_or(got.devRoot);
        return true;
    }
    error = "unknown option " + arg;
    return false;
}

bool Gather(const std::vector<std::string>& args, Gathered& got, std::string& error) {
    ArgumentReader reader(args);
    bool bOptionsEnded = false;
    while (!reader.Done()) {
        const std::string& arg = reader.Next();
        if (bOptionsEnded || arg == "-" || arg.empty() || arg[0] != '-') {
            got.operands.push_back(arg);
        } else if (arg == "--") {
            bOptionsEnded = true;
        } else if (!ReadOption(reader, arg, got, error)) {
            return false;
        }
    }
    return true;
}

std::optional<int64_t> ParseTimeout(const std::string& text) {
    int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [at, failure] = std::from_chars(text.data(), end, value);
    if (failure != std::errc() || at != end || value < -1 ||
        value > std::numeric_limits<int32_t>::max()) {
        return std::nullopt;
    }
    return value;
}

bool ReadModel(const std::string& vendor, const std::string& product, UsbModel& model,
               std::string& error) {
    const std::optional<uint16_t> vendorId = ParseUsbId(vendor);
    const std::optional<uint16_t> productId = ParseUsbId(product);
    if (!vendorId || !productId) {
        error = "a USB id is a number from 0 to 65535, decimal (4660) or hexadecimal (0x1234): " +
                (vendorId ? product : vendor);
        return false;
    }
    model = {*vendorId, *productId};
    return true;
}

bool CheckOperands(const Gathered& got, size_t wanted, const char* what, std::string& error) {
    // The command name is the first operand.
    if (got.operands.size() - 1 == wanted) {
        return true;
    }
    error = got.operands[0] + " takes " + what;
    return false;
}

bool ReadSend(const Gathered& got, Invocation& call, std::string& error) {
    if (got.usb.has_value() == got.port.has_value()) {
        error = "send needs either --usb VENDOR PRODUCT SERIAL or --port PORT";
        return false;
    }
    if (got.operands.size() > 2) {
        error = "send takes at most one FILE";
        return false;
    }
    call.inputPath = got.operands.size() == 2 ? got.operands[1] : "";
    if (got.port) {
        if (got.timeout) {
            error = "--timeout is for USB printers; a parallel port's write time-out is 2 s";
            return false;
        }
        call.portName = *got.port;
        return true;
    }
    call.bToUsb = true;
    call.serial = (*got.usb)[2];
    if (got.timeout) {
        const std::optional<int64_t> timeout = ParseTimeout(*got.timeout);
        if (!timeout) {
            error = "--timeout takes milliseconds, or -1 for no limit: " + *got.timeout;
            return false;
        }
        call.timeoutMs = *timeout;
    }
    return ReadModel((*got.usb)[0], (*got.usb)[1], call.model, error);
}

// Nothing (every printer) or VENDOR PRODUCT.
bool ReadOptionalModel(const Gathered& got, Invocation& call, std::string& error) {
    if (got.operands.size() == 1) {
        return true;
    }
    call.bModelGiven = true;
    return CheckOperands(got, 2, "VENDOR PRODUCT, or nothing for every printer", error) &&
           ReadModel(got.operands[1], got.operands[2], call.model, error);
}

// Nothing (everything present), PORT, or VENDOR PRODUCT [SERIAL].
bool ReadDoctor(const Gathered& got, Invocation& call, std::string& error) {
    const size_t count = got.operands.size() - 1;
    if (count == 1) {
        call.portName = got.operands[1];
        return true;
    }
    if (count > 3) {
        error = "doctor takes VENDOR PRODUCT [SERIAL], or PORT, or nothing";
        return false;
    }
    call.serial = count == 3 ? got.operands[3] : "";
    call.bModelGiven = count >= 2;
    return count == 0 || ReadModel(got.operands[1], got.operands[2], call.model, error);
}

bool ReadCommand(const Gathered& got, Invocation& call, std::string& error) {
    const std::string& name = got.operands[0];
    const bool bSendOptions = got.usb || got.port || got.timeout;
    if (name != "send" && bSendOptions) {
        error = "--usb, --port and --timeout belong to send";
        return false;
    }
    if (name == "list") {
        call.command = Command::kList;
        return ReadOptionalModel(got, call, error);
    }
    if (name == "doctor") {
        call.command = Command::kDoctor;
        return ReadDoctor(got, call, error);
    }
    if (name == "udev-rule") {
        call.command = Command::kUdevRule;
        return ReadOptionalModel(got, call, error);
    }
    if (name == "detect") {
        call.command = Command::kDetect;
        if (!CheckOperands(got, 3, "VENDOR PRODUCT SERIAL", error)) {
            return false;
        }
        call.serial = got.operands[3];
        return ReadModel(got.operands[1], got.operands[2], call.model, error);
    }
    if (name == "status") {
        call.command = Command::kStatus;
        if (!CheckOperands(got, 1, "PORT", error)) {
            return false;
        }
        call.portName = got.operands[1];
        return true;
    }
    if (name == "send") {
        call.command = Command::kSend;
        return ReadSend(got, call, error);
    }
    error = "unknown command " + name;
    return false;
}

}  // namespace

std::optional<uint16_t> ParseUsbId(std::string_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    unsigned value = 0;
    const char* end = text.data() + text.size();
    const auto [at, failure] = std::from_chars(text.data(), end, value, base);
    if (text.empty() || failure != std::errc() || at != end || value > 0xFFFF) {
        return std::nullopt;
    }
    return static_cast<uint16_t>(value);
}

ParseResult ParseArguments(const std::vector<std::string>& args) {
    Gathered got;
    ParseResult result;
    if (!Gather(args, got, result.error)) {
        return result;
    }
    Invocation call;
    call.sysfsRoot = got.sysfsRoot;
    call.devRoot = got.devRoot;
    if (got.bHelp || got.bVersion) {
        call.command = got.bHelp ? Command::kHelp : Command::kVersion;
        result.invocation = call;
        return result;
    }
    if (got.operands.empty()) {
        result.error = "no command given";
        return result;
    }
    if (ReadCommand(got, call, result.error)) {
        result.invocation = call;
    }
    return result;
}

}  // namespace zelp::cli
