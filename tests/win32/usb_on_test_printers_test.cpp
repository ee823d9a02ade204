// dravn.usb.UsbDevice on USB printers that Wine's SetupAPI lists and Wine's
// I/O manager serves: discovery with this build's record sizes, the identity
// query, overlapped transfers, time-outs, and an unplug in the middle of a job.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "test_printers_fixture.h"

namespace zelp::test {
namespace {

const std::string kVendor = "4660";         // 0x1234
const std::string kProduct = "22136";       // 0x5678
const std::string kOtherProduct = "43981";  // 0xabcd
constexpr jint kSlot = 7;
constexpr jint kWaitMs = 5000;
constexpr ULONG kAll = 0xffffffffu;  // a write limit that takes every byte

class UsbOnTestPrinters : public OnTestPrinters {
protected:
    void TearDown() override {
        UsbDevice<UsbSlotFn>("closeUsbPort")(m_env, nullptr, kSlot);
        UsbDevice<UsbSlotFn>("closeUsbPort")(m_env, nullptr, kSlot + 1);
    }

    bool Open(const std::string& serial, const std::string& product = kProduct, jint slot = kSlot) {
        FakeString serialText = JavaText(serial);
        FakeString vendorText = JavaText(kVendor);
        FakeString productText = JavaText(product);
        return UsbDevice<UsbOpenFn>("openUsbPort")(m_env, nullptr, FakeJniEnv::Ref(serialText),
                                                   slot, FakeJniEnv::Ref(vendorText),
                                                   FakeJniEnv::Ref(productText)) != JNI_FALSE;
    }

    bool Write(FakeByteArray& data, jint offset, jint length, jint timeoutMs) {
        return UsbDevice<UsbWriteFn>("writeData")(m_env, nullptr, FakeJniEnv::Ref(data), offset,
                                                  length, timeoutMs, kSlot) != JNI_FALSE;
    }

    jint Read(FakeByteArray& buffer, jint length) {
        return UsbDevice<UsbReadFn>("readData")(m_env, nullptr, FakeJniEnv::Ref(buffer), length,
                                                kSlot);
    }

    bool Detect() { return UsbDevice<UsbSlotFn>("detectUsbDevice")(m_env, nullptr, kSlot); }

    // The printers that saw an open, in order.
    std::vector<ULONG> OpenedPrinters() {
        std::vector<ULONG> opened;
        for (const zelp_test_request& entry : m_printers.Log()) {
            if (entry.device != ZELP_TEST_PARALLEL && entry.event == ZELP_TEST_ARRIVED &&
                entry.major == kMajorCreate) {
                opened.push_back(entry.device);
            }
        }
        return opened;
    }
};

const std::vector<jbyte> kJob = {'-', '-', 0x1b, '@', 'L', 'a', 'b', 'e', 'l', 0x0c, '-'};
const std::vector<BYTE> kJobRange = {0x1b, '@', 'L', 'a', 'b', 'e', 'l', 0x0c};

// Wine gives the paths in lower case, the model key of the other printer
// included; each pass opens only the first printer that matches.
TEST_F(UsbOnTestPrinters, OpenFindsThePrinterBySerialAndModel) {
    struct Case {
        const char* what;
        std::string serial;
        std::string product;
        std::vector<ULONG> opened;
    };
    const Case cases[] = {
        {"numbered serial", "123456", kProduct, {ZELP_TEST_PRINTER_NUMBERED}},
        {"other model, same serial", "123456", kOtherProduct, {ZELP_TEST_PRINTER_OTHER_MODEL}},
        {"absent serial: second pass", "999", kProduct, {ZELP_TEST_PRINTER_UNNUMBERED}},
        {"absent model", "123456", "1", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(m_printers.Reset());
        EXPECT_EQ(Open(c.serial, c.product), !c.opened.empty());
        EXPECT_EQ(OpenedPrinters(), c.opened);
        UsbDevice<UsbSlotFn>("closeUsbPort")(m_env, nullptr, kSlot);
    }
}

TEST_F(UsbOnTestPrinters, DeviceListAsksTheUnnumberedPrinterForItsIdentity) {
    ASSERT_TRUE(
        ScriptReply(ZELP_TEST_PRINTER_UNNUMBERED, "7a777\r", ZELP_TEST_AT_ONCE, kStatusSuccess));
    FakeIntArray first(std::vector<jint>(10, -1));
    FakeIntArray second(std::vector<jint>(10, -1));
    FakeString vendorText = JavaText(kVendor);
    FakeString productText = JavaText(kProduct);

    const jint count = UsbDevice<UsbListFn>("usbDeviceList")(
        m_env, nullptr, FakeJniEnv::Ref(first), FakeJniEnv::Ref(second), kSlot,
        FakeJniEnv::Ref(vendorText), FakeJniEnv::Ref(productText));

    // In SetupAPI's order, whichever that is; the other model is not listed.
    ASSERT_EQ(count, 2);
    std::vector<std::pair<jint, jint>> listed = {{first.elements[0], second.elements[0]},
                                                 {first.elements[1], second.elements[1]}};
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, (std::vector<std::pair<jint, jint>>{{777, 0}, {123456, 123456}}));
    const std::vector<zelp_test_request> writes =
        Arrived(ZELP_TEST_PRINTER_UNNUMBERED, kMajorWrite);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(LoggedBytes(writes[0]),
              (std::vector<BYTE>{0x1d, 'e', 'R', 'E', 'A', 'D', 'V', 'A', 'R', 'I'}));
    EXPECT_EQ(m_printers.Requests(ZELP_TEST_PRINTER_NUMBERED), std::vector<std::string>{})
        << "a printer with a numeric serial is listed without being opened";
}

TEST_F(UsbOnTestPrinters, WriteEndsAsTheDriverCompletesIt) {
    struct Case {
        const char* what;
        ULONG completion;
        ULONG limit;
        LONG status;
        bool written;
    };
    const Case cases[] = {
        {"at once", ZELP_TEST_AT_ONCE, kAll, kStatusSuccess, true},
        {"later", ZELP_TEST_LATER, kAll, kStatusSuccess, true},
        {"short at once", ZELP_TEST_AT_ONCE, 3, kStatusSuccess, false},
        {"short later", ZELP_TEST_LATER, 3, kStatusSuccess, false},
        {"error at once", ZELP_TEST_AT_ONCE, kAll, kStatusDataError, false},
        {"error later", ZELP_TEST_LATER, kAll, kStatusDataError, false},
    };
    ASSERT_TRUE(Open("123456"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(m_printers.Script(ZELP_TEST_PRINTER_NUMBERED, [&](zelp_test_script& s) {
            s.write_completion = c.completion;
            s.write_limit = c.limit;
            s.write_status = c.status;
        }));
        FakeByteArray job(kJob);
        UsbDevice<UsbSetFlagFn>("setWriteComplete")(m_env, nullptr, JNI_FALSE, kSlot);
        EXPECT_EQ(Write(job, 2, 8, kWaitMs), c.written);
        EXPECT_EQ(UsbDevice<UsbSlotFn>("isWriteComplete")(m_env, nullptr, kSlot) != JNI_FALSE,
                  c.written);
        const std::vector<zelp_test_request> writes =
            Arrived(ZELP_TEST_PRINTER_NUMBERED, kMajorWrite);
        ASSERT_FALSE(writes.empty());
        EXPECT_EQ(LoggedBytes(writes.back()), kJobRange);
    }
    EXPECT_EQ(m_jni.exceptions, 0);
}

TEST_F(UsbOnTestPrinters, ReadReturnsTheReplyAtOnceOrLater) {
    ASSERT_TRUE(Open("123456"));
    for (ULONG completion : {ZELP_TEST_AT_ONCE, ZELP_TEST_LATER}) {
        SCOPED_TRACE(completion == ZELP_TEST_LATER ? "later" : "at once");
        ASSERT_TRUE(ScriptReply(ZELP_TEST_PRINTER_NUMBERED, "OK\r", completion, kStatusSuccess));
        FakeByteArray buffer(std::vector<jbyte>(8, 9));
        EXPECT_EQ(Read(buffer, 6), 3);
        EXPECT_EQ(buffer.elements, (std::vector<jbyte>{'O', 'K', '\r', 9, 9, 9, 9, 9}));
    }
    EXPECT_EQ(m_printers.Requests(ZELP_TEST_PRINTER_NUMBERED),
              (std::vector<std::string>{"open", "read 6", "read 6", "completed read 6"}));
}

// The library's own time-out ends a transfer the printer never completes:
// CancelIo has to reach the driver, whose cancel routine ends the request,
// and the handle serves the next transfer.
TEST_F(UsbOnTestPrinters, TimedOutTransferIsCancelledInTheDriver) {
    ASSERT_TRUE(Open("123456"));
    ASSERT_TRUE(m_printers.Script(ZELP_TEST_PRINTER_NUMBERED, [](zelp_test_script& s) {
        s.write_completion = ZELP_TEST_NEVER;
        s.read_completion = ZELP_TEST_NEVER;
    }));
    FakeByteArray job(kJob);
    FakeByteArray buffer(std::vector<jbyte>(4, 9));
    EXPECT_FALSE(Write(job, 0, 11, 200));
    EXPECT_EQ(Read(buffer, 4), 0);
    EXPECT_EQ(m_printers.Requests(ZELP_TEST_PRINTER_NUMBERED),
              (std::vector<std::string>{"open", "write 11", "cancelled write 11", "read 4",
                                        "cancelled read 4"}));

    ASSERT_TRUE(m_printers.Script(ZELP_TEST_PRINTER_NUMBERED, [](zelp_test_script& s) {
        s.write_completion = ZELP_TEST_AT_ONCE;
    }));
    EXPECT_TRUE(Write(job, 0, 11, kWaitMs));
}

// The unplug ends the write that was waiting (the driver fails it), not the
// write's own time-out; the printer then comes back under the same path.
TEST_F(UsbOnTestPrinters, UnplugEndsAWriteThenReplugServesAgain) {
    ASSERT_TRUE(Open("123456"));
    ASSERT_TRUE(m_printers.Script(ZELP_TEST_PRINTER_NUMBERED, [](zelp_test_script& s) {
        s.write_completion = ZELP_TEST_NEVER;
    }));
    FakeByteArray job(kJob);
    bool written = true;
    std::thread writer([&] { written = Write(job, 0, 11, 30000); });
    const bool pending =
        TestPrinters::WaitUntil([&] { return HasRequest(ZELP_TEST_PRINTER_NUMBERED, "write 11"); });
    const bool unplugged = m_printers.Unplug(ZELP_TEST_PRINTER_NUMBERED);
    writer.join();
    ASSERT_TRUE(pending);
    ASSERT_TRUE(unplugged) << "SetupAPI still lists the printer";

    EXPECT_FALSE(written);
    std::vector<zelp_test_request> ends;
    for (const zelp_test_request& entry : m_printers.Log()) {
        if (entry.device == ZELP_TEST_PRINTER_NUMBERED && entry.major == kMajorWrite &&
            entry.event != ZELP_TEST_ARRIVED) {
            ends.push_back(entry);
        }
    }
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(ends[0].event, ZELP_TEST_COMPLETED) << "the write ran into its time-out";
    EXPECT_EQ(ends[0].status, kStatusDeviceNotConnected);
    EXPECT_FALSE(Detect());
    EXPECT_TRUE(UsbDevice<UsbSlotFn>("closeUsbPort")(m_env, nullptr, kSlot));

    ASSERT_TRUE(m_printers.Replug(ZELP_TEST_PRINTER_NUMBERED));
    EXPECT_TRUE(Detect()) << "detection looks for the slot's last printer";
    ASSERT_TRUE(m_printers.Script(ZELP_TEST_PRINTER_NUMBERED, [](zelp_test_script& s) {
        s.write_completion = ZELP_TEST_AT_ONCE;
    }));
    ASSERT_TRUE(Open("123456"));
    EXPECT_TRUE(Write(job, 0, 11, kWaitMs));
}

// A read that completed returns the bytes it moved even when its completion
// carries an error; one that failed at once still returns nothing.
TEST_F(UsbOnTestPrinters, ReadCompletedWithAnErrorKeepsTheBytesItMoved) {
    struct Case {
        const char* what;
        ULONG completion;
        LONG status;
        jint count;
        bool bytesArrive;
    };
    const Case cases[] = {
        {"warning, later", ZELP_TEST_LATER, kStatusBufferOverflow, 6, true},
        {"error, later", ZELP_TEST_LATER, kStatusDataError, 6, false},
        {"warning, at once", ZELP_TEST_AT_ONCE, kStatusBufferOverflow, 0, false},
    };
    ASSERT_TRUE(Open("123456"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(ScriptReply(ZELP_TEST_PRINTER_NUMBERED, "7a777\r", c.completion, c.status));
        FakeByteArray buffer(std::vector<jbyte>(8, 9));
        EXPECT_EQ(Read(buffer, 8), c.count);
        if (c.bytesArrive) {
            EXPECT_EQ(buffer.elements, (std::vector<jbyte>{'7', 'a', '7', '7', '7', '\r', 9, 9}));
        }
    }
}

TEST_F(UsbOnTestPrinters, IdentityQueryScansAReadCompletedWithAWarning) {
    ASSERT_TRUE(ScriptReply(ZELP_TEST_PRINTER_UNNUMBERED, "7a777\r", ZELP_TEST_LATER,
                            kStatusBufferOverflow));
    FakeIntArray first(std::vector<jint>(1, -1));
    FakeIntArray second(std::vector<jint>(1, -1));
    FakeString vendorText = JavaText(kVendor);
    FakeString productText = JavaText(kProduct);
    // The unnumbered printer alone, whatever order SetupAPI lists them in.
    ASSERT_TRUE(m_printers.Unplug(ZELP_TEST_PRINTER_NUMBERED));

    EXPECT_EQ(UsbDevice<UsbListFn>("usbDeviceList")(
                  m_env, nullptr, FakeJniEnv::Ref(first), FakeJniEnv::Ref(second), kSlot,
                  FakeJniEnv::Ref(vendorText), FakeJniEnv::Ref(productText)),
              1);
    EXPECT_EQ(first.elements, std::vector<jint>{777});
    EXPECT_EQ(second.elements, std::vector<jint>{0});
}

}  // namespace
}  // namespace zelp::test
