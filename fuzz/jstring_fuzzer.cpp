// Java strings into ANSI text over arbitrary UTF-16: lone surrogates, U+0000
// anywhere, texts far longer than any port name. Each conversion must match
// an encoder written from the rules alone, stay within its buffers (the fake
// JNI environment hands out exactly the string's own code units) and give
// back every buffer it took.
#include <cstring>
#include <string>

#include "fake_jni_env.h"
#include "fuzz_input.h"
#include "native/jni_frame.h"
#include "text_only_platform.h"

using zelp::fuzz::FuzzInput;
using zelp::fuzz::Require;

namespace {

bool IsHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

void AppendUtf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// The text up to its first U+0000, in UTF-8, each lone surrogate a '?'.
std::string ExpectedText(const std::u16string& units) {
    std::string out;
    for (size_t i = 0; i < units.size() && units[i] != 0; ++i) {
        const char16_t unit = units[i];
        if (IsHighSurrogate(unit) && i + 1 < units.size() && IsLowSurrogate(units[i + 1])) {
            AppendUtf8(out, 0x10000 + ((uint32_t{unit} - 0xD800) << 10) + (units[i + 1] - 0xDC00));
            ++i;
        } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
            out += '?';
        } else {
            AppendUtf8(out, unit);
        }
    }
    return out;
}

// Units from the input, the whole repeated so that very long texts come up.
std::u16string UnitsOf(FuzzInput& input) {
    const uint8_t shape = input.Byte();
    const size_t repeats = (shape & 0x80) != 0 ? 1 + (shape & 0x3F) : 1;
    std::u16string units;
    while (input.Remaining() >= 2) {
        const char16_t high = input.Byte();
        units += static_cast<char16_t>((high << 8) | input.Byte());
    }
    std::u16string text;
    for (size_t i = 0; i < repeats; ++i) {
        text += units;
    }
    return text;
}

zelp::test::TextOnlyPlatform& Platform() {
    static zelp::test::TextOnlyPlatform* const platform = new zelp::test::TextOnlyPlatform;
    return *platform;
}

}  // namespace

// The conversion is all the frame asks of a platform here.
zelp::PlatformOps& zelp::DefaultPlatform() {
    return Platform();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zelp::ScopedPlatform scope(Platform());
    zelp::test::FakeJniEnv fake;

    FuzzInput input(data, size);
    zelp::test::FakeString text{UnitsOf(input)};
    const std::string expected = ExpectedText(text.units);

    char* ansi = zelp::jni::JStringToAnsi(fake.Env(), zelp::test::FakeJniEnv::Ref(text));
    Require(ansi != nullptr, "a string converts");
    Require(std::strlen(ansi) == expected.size() && expected == ansi,
            "the text is its UTF-8, up to its first U+0000, lone halves as '?'");
    zelp::jni::FreeAnsi(ansi);
    Require(zelp::jni::JStringToString(fake.Env(), zelp::test::FakeJniEnv::Ref(text)) == expected,
            "the owned copy is the same text");
    Require(zelp::jni::JStringToAnsi(fake.Env(), nullptr) == nullptr, "null stays null");
    Require(fake.stringCharsOut == 0, "every string buffer is given back");
    return 0;
}
