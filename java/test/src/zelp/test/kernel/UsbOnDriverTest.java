package zelp.test.kernel;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import dravn.usb.UsbDevice;
import java.io.BufferedReader;
import java.io.ByteArrayOutputStream;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.util.Arrays;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.TimeUnit;
import java.util.function.BooleanSupplier;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.Timeout;

/**
 * UsbDevice through zelp.jar on the kernel's usblp, with printer gadgets on dummy_hcd at the far
 * end. Time bounds leave room for an emulated machine that shares its two cores.
 */
@Timeout(60)
class UsbOnDriverTest {
    private static final String VENDOR = "4660"; // 0x1234
    private static final String PRODUCT = "22136"; // 0x5678
    private static final String OTHER_PRODUCT = "22137"; // 0x5679
    private static final int SLOT = 7;
    private static final long MARGIN_MS = 3000;
    /** More than the gadget and usblp buffer between them (about 80 KiB). */
    private static final int MORE_THAN_BUFFERED = 1024 * 1024;

    @BeforeEach
    void readyPrinters() {
        for (PrinterGadget printer : PrinterGadget.ALL) {
            printer.reset();
        }
    }

    @AfterEach
    void closeSlots() {
        UsbDevice.closeUsbPort(SLOT);
        UsbDevice.closeUsbPort(SLOT + 1);
        for (PrinterGadget printer : PrinterGadget.ALL) {
            printer.reset();
        }
    }

    private static byte[] job(int size, int seed) {
        byte[] data = new byte[size];
        for (int i = 0; i < size; i++) {
            data[i] = (byte) (i * 31 + (i >> 8) + seed);
        }
        return data;
    }

    private static void assertReceives(PrinterGadget printer, byte[] expected) {
        assertEquals(expected.length, printer.awaitReceived(expected.length, 20_000));
        assertArrayEquals(expected, printer.received(), "what printer " + printer.name + " got");
    }

    private static void openOrFail(String serial, int slot, String product) {
        assertTrue(UsbDevice.openUsbPort(serial, slot, VENDOR, product), "open serial " + serial);
    }

    private static boolean write(byte[] data, int timeoutMs, int slot) {
        return UsbDevice.writeData(data, 0, data.length, timeoutMs, slot);
    }

    private static void waitUntil(BooleanSupplier condition, String what) throws Exception {
        long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(10);
        while (!condition.getAsBoolean()) {
            assertTrue(System.nanoTime() < deadline, "no " + what + " within 10 s");
            Thread.sleep(20);
        }
    }

    private static long millisSince(long start) {
        return TimeUnit.NANOSECONDS.toMillis(System.nanoTime() - start);
    }

    @Test
    void theListAsksOnlyThePrintersWithoutANumericSerial() {
        int[] first = new int[10];
        int[] second = new int[10];
        assertEquals(3, UsbDevice.usbDeviceList(first, second, 0, VENDOR, PRODUCT));
        assertArrayEquals(new int[] {123456, 4711, 815}, Arrays.copyOf(first, 3));
        assertArrayEquals(new int[] {123456, 0, 0}, Arrays.copyOf(second, 3));
        byte[] command = {0x1D, 'e', 'R', 'E', 'A', 'D', 'V', 'A', 'R', 'I'};
        assertArrayEquals(command, PrinterGadget.UNNUMBERED.received());
        assertArrayEquals(command, PrinterGadget.LETTERED.received());
        assertEquals(0, PrinterGadget.NUMBERED.received().length, "a numbered printer is not asked");

        assertEquals(1, UsbDevice.usbDeviceList(first, second, 0, VENDOR, OTHER_PRODUCT));
        assertEquals(123456, first[0]);
        assertEquals(0, PrinterGadget.OTHER_MODEL.received().length);
    }

    @Test
    void aSerialOpensThePrinterOfThatModelAndAnAbsentOneItsStandIn() {
        openOrFail("123456", SLOT, OTHER_PRODUCT);
        byte[] toOther = job(5000, 1);
        assertTrue(write(toOther, 10_000, SLOT));
        assertReceives(PrinterGadget.OTHER_MODEL, toOther);

        // No printer 999: the first of the model without a numeric serial stands in.
        openOrFail("999", SLOT + 1, PRODUCT);
        byte[] toStandIn = job(3000, 2);
        assertTrue(write(toStandIn, 10_000, SLOT + 1));
        assertReceives(PrinterGadget.UNNUMBERED, toStandIn);
        assertEquals(0, PrinterGadget.NUMBERED.received().length);
    }

    @Test
    void aPrinterAnotherProgramHoldsIsLeftForTheStandIn() throws Exception {
        Process holder =
                new ProcessBuilder("sh", "-c", "exec 3<>/dev/usb/lp0 && echo held && exec sleep 60")
                        .redirectErrorStream(true)
                        .start();
        try (BufferedReader out =
                new BufferedReader(
                        new InputStreamReader(holder.getInputStream(), StandardCharsets.US_ASCII))) {
            assertEquals("held", out.readLine());
            openOrFail("123456", SLOT, PRODUCT);
            byte[] data = job(2000, 3);
            assertTrue(write(data, 10_000, SLOT));
            assertReceives(PrinterGadget.UNNUMBERED, data);
            assertEquals(0, PrinterGadget.NUMBERED.received().length);
        } finally {
            holder.destroyForcibly().waitFor();
        }
        openOrFail("123456", SLOT, PRODUCT);
        byte[] data = job(2000, 4);
        assertTrue(write(data, 10_000, SLOT));
        assertReceives(PrinterGadget.NUMBERED, data);
    }

    @Test
    void aWriteArrivesByteForByte() {
        openOrFail("123456", SLOT, PRODUCT);
        byte[] data = job(MORE_THAN_BUFFERED + 1000, 5);
        UsbDevice.setWriteComplete(false, SLOT);
        assertTrue(UsbDevice.writeData(data, 7, data.length - 7, 30_000, SLOT));
        assertTrue(UsbDevice.isWriteComplete(SLOT));
        assertReceives(PrinterGadget.NUMBERED, Arrays.copyOfRange(data, 7, data.length));
    }

    @Test
    void readsCarryWhatThePrinterSentAcrossAZeroLengthPacket() {
        openOrFail("123456", SLOT, PRODUCT);
        // 1024 bytes in one write end in a zero-length packet; the rest follows it.
        PrinterGadget.NUMBERED.send(1024);
        PrinterGadget.NUMBERED.send(700);
        ByteArrayOutputStream got = new ByteArrayOutputStream();
        long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(20);
        while (got.size() < 1724 && System.nanoTime() < deadline) {
            byte[] buffer = new byte[4096];
            UsbDevice.setReadComplete(false, SLOT);
            int n = UsbDevice.readData(buffer, buffer.length, SLOT);
            assertTrue(UsbDevice.isReadComplete(SLOT));
            got.write(buffer, 0, n);
        }
        byte[] expected = new byte[1724];
        for (int i = 0; i < expected.length; i++) {
            expected[i] = PrinterGadget.pattern(i);
        }
        assertArrayEquals(expected, got.toByteArray());
    }

    @Test
    void detectFollowsAnUnplugAndAReplug() throws Exception {
        openOrFail("123456", SLOT, PRODUCT);
        assertTrue(UsbDevice.detectUsbDevice(SLOT));
        PrinterGadget.NUMBERED.unplug();
        waitUntil(() -> !UsbDevice.detectUsbDevice(SLOT), "unplug seen");
        assertFalse(write(job(100, 6), 5000, SLOT), "a printer that is gone takes nothing");

        PrinterGadget.NUMBERED.plug();
        waitUntil(() -> UsbDevice.detectUsbDevice(SLOT), "replug seen");
        // The slot still holds the old printer's handle, which is dead; a new open works.
        assertFalse(write(job(100, 7), 5000, SLOT));
        UsbDevice.closeUsbPort(SLOT);
        openOrFail("123456", SLOT, PRODUCT);
        byte[] data = job(4000, 8);
        assertTrue(write(data, 10_000, SLOT));
        assertReceives(PrinterGadget.NUMBERED, data);
    }

    @Test
    void aWriteToAPrinterThatStoppedReadingEndsAtItsTimeOut() {
        openOrFail("123456", SLOT, PRODUCT);
        PrinterGadget.NUMBERED.reading(false);
        UsbDevice.setWriteComplete(false, SLOT);
        long start = System.nanoTime();
        assertFalse(write(job(MORE_THAN_BUFFERED, 9), 1500, SLOT));
        long took = millisSince(start);
        assertTrue(took >= 1400 && took < 1500 + MARGIN_MS, "took " + took + " ms");
        assertFalse(UsbDevice.isWriteComplete(SLOT));
    }

    @Test
    void aWriteCutByAnUnplugEndsFalseLongBeforeItsTimeOut() throws Exception {
        openOrFail("123456", SLOT, PRODUCT);
        PrinterGadget.NUMBERED.reading(false);
        byte[] data = job(MORE_THAN_BUFFERED, 10);
        CompletableFuture<Boolean> writing =
                CompletableFuture.supplyAsync(() -> write(data, 30_000, SLOT));
        Thread.sleep(500);
        long start = System.nanoTime();
        PrinterGadget.NUMBERED.unplug();
        assertFalse(writing.get(MARGIN_MS, TimeUnit.MILLISECONDS));
        assertTrue(millisSince(start) < MARGIN_MS);
    }

    @Test
    void aCloseDuringAStalledWriteWaitsAtMostForItsTimeOut() throws Exception {
        openOrFail("123456", SLOT, PRODUCT);
        PrinterGadget.NUMBERED.reading(false);
        byte[] data = job(MORE_THAN_BUFFERED, 11);
        CompletableFuture<Boolean> writing =
                CompletableFuture.supplyAsync(() -> write(data, 2000, SLOT));
        Thread.sleep(300);
        long start = System.nanoTime();
        assertTrue(UsbDevice.closeUsbPort(SLOT));
        assertTrue(millisSince(start) < 2000 + MARGIN_MS, "the close took " + millisSince(start));
        assertFalse(writing.get(MARGIN_MS, TimeUnit.MILLISECONDS));

        // Closed means closed: the printer opens again and takes the next job.
        PrinterGadget.NUMBERED.reset();
        openOrFail("123456", SLOT, PRODUCT);
        byte[] next = job(1000, 12);
        assertTrue(write(next, 10_000, SLOT));
        assertTrue(PrinterGadget.NUMBERED.awaitEndingWith(next, 20_000));
    }

    @Test
    void outOfPaperTheWriteEndsAtItsTimeOutAndTheSlotPrintsOnceItIsBack() throws Exception {
        openOrFail("123456", SLOT, PRODUCT);
        PrinterGadget.NUMBERED.status(PrinterGadget.PAPER_OUT);
        PrinterGadget.NUMBERED.reading(false);
        long start = System.nanoTime();
        assertFalse(write(job(MORE_THAN_BUFFERED, 13), 1500, SLOT));
        assertTrue(millisSince(start) < 1500 + MARGIN_MS);
        assertTrue(UsbDevice.detectUsbDevice(SLOT), "out of paper is still plugged in");

        PrinterGadget.NUMBERED.status(PrinterGadget.READY);
        PrinterGadget.NUMBERED.reading(true);
        byte[] next = job(1000, 14);
        assertTrue(write(next, 20_000, SLOT));
        // After what the first write had handed to the driver.
        assertTrue(PrinterGadget.NUMBERED.awaitEndingWith(next, 20_000));
    }
}
