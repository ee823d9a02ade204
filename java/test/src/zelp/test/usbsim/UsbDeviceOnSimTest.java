package zelp.test.usbsim;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import dravn.usb.UsbDevice;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.Timeout;
import zelp.sim.VirtualPrinters;

/** The USB methods on the sim copy of the library, with virtual printers. */
@Timeout(120)
class UsbDeviceOnSimTest {
    private static final String VENDOR = "4660"; // 0x1234
    private static final String PRODUCT = "22136"; // 0x5678
    private static final int UNTOUCHED = -7;

    private static String path(String key, String serialField) {
        return "\\\\?\\usb#" + key + "#" + serialField + "#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
    }

    private static String printer(String serialField) {
        String path = path("vid_1234&pid_5678", serialField);
        assertTrue(VirtualPrinters.addUsbPrinter(path), path);
        return path;
    }

    private static byte[] ascii(String text) {
        return text.getBytes(StandardCharsets.US_ASCII);
    }

    private int handlesBefore;

    @BeforeEach
    void startClean() {
        closeAll();
        VirtualPrinters.reset();
        handlesBefore = VirtualPrinters.openHandleCount();
    }

    @AfterEach
    void closeEverything() {
        closeAll();
        assertEquals(handlesBefore, VirtualPrinters.openHandleCount(), "handles left open");
        VirtualPrinters.reset();
    }

    private static void closeAll() {
        for (int slot = 0; slot < 255; ++slot) {
            UsbDevice.closeUsbPort(slot);
            UsbDevice.setWriteComplete(false, slot);
            UsbDevice.setReadComplete(false, slot);
        }
    }

    @Test
    void aPrinterIsFoundBySerialValueWrittenAndReadWithTheSlotsFlags() {
        printer("000011");
        String wanted = printer("000012");
        assertTrue(UsbDevice.openUsbPort("12", 3, VENDOR, PRODUCT));

        byte[] job = ascii("xx^XA^FDLabel^FS^XZyy");
        assertTrue(UsbDevice.writeData(job, 2, job.length - 4, 2000, 3));
        assertTrue(UsbDevice.isWriteComplete(3));
        assertFalse(UsbDevice.isWriteComplete(4), "another slot's flag");
        assertArrayEquals(Arrays.copyOfRange(job, 2, job.length - 2), VirtualPrinters.takeReceived(wanted));

        VirtualPrinters.queueReply(wanted, ascii("OK\r"));
        byte[] buffer = new byte[16];
        Arrays.fill(buffer, (byte) 0x55);
        assertEquals(3, UsbDevice.readData(buffer, 16, 3));
        assertEquals("OK\r", new String(buffer, 0, 3, StandardCharsets.US_ASCII));
        assertEquals((byte) 0x55, buffer[3], "only the bytes read are copied back");
        assertTrue(UsbDevice.isReadComplete(3));

        // Nothing more to read: 0 after the 100 ms bound, and the flag is still set.
        UsbDevice.setReadComplete(false, 3);
        assertEquals(0, UsbDevice.readData(buffer, 16, 3));
        assertTrue(UsbDevice.isReadComplete(3));
    }

    @Test
    void aMissingSerialFallsBackToThePrinterWithoutNumberAndDetectionFollowsIt() {
        String unnumbered = printer("000000");
        assertTrue(UsbDevice.openUsbPort("4711", 0, VENDOR, PRODUCT));
        assertTrue(UsbDevice.writeData(ascii("A"), 0, 1, 1000, 0));
        assertArrayEquals(ascii("A"), VirtualPrinters.takeReceived(unnumbered));
        assertTrue(UsbDevice.detectUsbDevice(0));

        // Closing keeps what detection looks for; unplugging ends it.
        assertTrue(UsbDevice.closeUsbPort(0));
        assertTrue(UsbDevice.detectUsbDevice(0));
        VirtualPrinters.unplug(unnumbered);
        assertFalse(UsbDevice.detectUsbDevice(0));
    }

    @Test
    void slotsWithoutPrinterRefuseWritesAndStillFlagReads() {
        assertFalse(UsbDevice.detectUsbDevice(7), "a slot never opened has no printer");
        assertFalse(UsbDevice.openUsbPort("1", 7, VENDOR, PRODUCT));
        UsbDevice.setWriteComplete(true, 7);
        assertFalse(UsbDevice.writeData(ascii("data"), 0, 4, 1000, 7));
        assertTrue(UsbDevice.isWriteComplete(7), "a failed write keeps the flag");
        UsbDevice.setWriteComplete(false, 7);
        assertFalse(UsbDevice.writeData(ascii("data"), 0, 4, 1000, 7));
        assertFalse(UsbDevice.isWriteComplete(7));
        assertEquals(0, UsbDevice.readData(new byte[4], 4, 7));
        assertTrue(UsbDevice.isReadComplete(7));
        assertTrue(UsbDevice.closeUsbPort(7));
        assertEquals(0, UsbDevice.readData(new byte[4], 4, 8));
        assertTrue(UsbDevice.isReadComplete(8));
    }

    @Test
    void slotsOutsideTheTableTouchNothing() {
        printer("000001");
        for (int slot : new int[] {-1, 255, Integer.MAX_VALUE, Integer.MIN_VALUE}) {
            assertFalse(UsbDevice.openUsbPort("1", slot, VENDOR, PRODUCT));
            assertFalse(UsbDevice.writeData(ascii("x"), 0, 1, 100, slot));
            assertEquals(0, UsbDevice.readData(new byte[1], 1, slot));
            assertFalse(UsbDevice.isReadComplete(slot));
            assertTrue(UsbDevice.setWriteComplete(true, slot));
            assertFalse(UsbDevice.isWriteComplete(slot));
            assertFalse(UsbDevice.detectUsbDevice(slot));
            assertTrue(UsbDevice.closeUsbPort(slot));
        }
        int[] first = new int[10];
        int[] second = new int[10];
        assertEquals(1, UsbDevice.usbDeviceList(first, second, -1, VENDOR, PRODUCT));
    }

    @Test
    void badArraysSendNothing() {
        String path = printer("000001");
        assertTrue(UsbDevice.openUsbPort("1", 0, VENDOR, PRODUCT));
        byte[] data = ascii("abcd");
        assertFalse(UsbDevice.writeData(null, 0, 0, 100, 0));
        assertFalse(UsbDevice.writeData(data, -1, 2, 100, 0));
        assertFalse(UsbDevice.writeData(data, 3, 2, 100, 0));
        assertFalse(UsbDevice.writeData(data, 1, Integer.MAX_VALUE, 100, 0));
        assertFalse(UsbDevice.isWriteComplete(0));
        assertEquals(0, VirtualPrinters.takeReceived(path).length);
        assertEquals(0, UsbDevice.readData(null, 4, 0));
        assertEquals(0, UsbDevice.readData(data, 5, 0));
        assertTrue(UsbDevice.isReadComplete(0));
    }

    @Test
    void aWriteThatDoesNotEndInTimeFailsAndTheSlotStaysUsable() {
        String path = printer("000001");
        assertTrue(UsbDevice.openUsbPort("1", 0, VENDOR, PRODUCT));
        VirtualPrinters.setWriteStalled(path, true);
        assertFalse(UsbDevice.writeData(ascii("late"), 0, 4, 50, 0));
        assertFalse(UsbDevice.isWriteComplete(0));
        VirtualPrinters.setWriteStalled(path, false);
        VirtualPrinters.takeReceived(path);
        assertTrue(UsbDevice.writeData(ascii("next"), 0, 4, 1000, 0));
        assertArrayEquals(ascii("next"), VirtualPrinters.takeReceived(path));
    }

    @Test
    void theListGivesNumbersAndAsksPrintersWithoutOne() {
        printer("123456");
        printer("000777");
        assertTrue(VirtualPrinters.addUsbPrinter(path("vid_04b8&pid_0202", "000555")));
        String asked = printer("ABCDEF");
        VirtualPrinters.answerIdentity(asked, "7a4711\r");
        printer("SILENT"); // answers nothing: not listed

        int[] first = new int[12];
        int[] second = new int[12];
        Arrays.fill(first, UNTOUCHED);
        Arrays.fill(second, UNTOUCHED);
        assertEquals(3, UsbDevice.usbDeviceList(first, second, 0, VENDOR, PRODUCT));
        assertArrayEquals(new int[] {123456, 777, 4711, UNTOUCHED}, Arrays.copyOf(first, 4));
        assertArrayEquals(new int[] {123456, 777, 0, UNTOUCHED}, Arrays.copyOf(second, 4));
    }

    @Test
    void theListStopsAtTenOrAtTheShorterArray() {
        for (int i = 1; i <= 11; ++i) {
            printer(String.format("%06d", i));
        }
        int[] first = new int[12];
        int[] second = new int[12];
        assertEquals(10, UsbDevice.usbDeviceList(first, second, 0, VENDOR, PRODUCT));
        assertEquals(10, first[9]);
        assertEquals(0, first[10]);

        int[] shortArray = new int[3];
        assertEquals(3, UsbDevice.usbDeviceList(new int[10], shortArray, 0, VENDOR, PRODUCT));
        assertArrayEquals(new int[] {1, 2, 3}, shortArray);
        assertEquals(0, UsbDevice.usbDeviceList(null, shortArray, 0, VENDOR, PRODUCT));
        assertEquals(0, UsbDevice.usbDeviceList(new int[0], shortArray, 0, VENDOR, PRODUCT));
    }

    @Test
    void theListLeavesAnOpenSlotAsItWas() {
        String path = printer("000042");
        assertTrue(UsbDevice.openUsbPort("42", 5, VENDOR, PRODUCT));
        int[] first = new int[10];
        int[] second = new int[10];
        assertEquals(1, UsbDevice.usbDeviceList(first, second, 5, VENDOR, PRODUCT));
        assertTrue(UsbDevice.writeData(ascii("still open"), 0, 10, 1000, 5));
        assertArrayEquals(ascii("still open"), VirtualPrinters.takeReceived(path));
    }

    @Test
    void twoSlotsWriteAtOnceWhileAListRuns() throws Exception {
        String a = printer("000001");
        String b = printer("000002");
        String slow = printer("NOSERL");
        VirtualPrinters.answerIdentity(slow, "7a99\r");
        VirtualPrinters.setWriteDelayMillis(a, 5);
        VirtualPrinters.setWriteDelayMillis(b, 5);
        assertTrue(UsbDevice.openUsbPort("1", 0, VENDOR, PRODUCT));
        assertTrue(UsbDevice.openUsbPort("2", 1, VENDOR, PRODUCT));

        ExecutorService pool = Executors.newFixedThreadPool(3);
        try {
            List<Future<ByteArrayJob>> jobs = new ArrayList<>();
            for (int slot = 0; slot < 2; ++slot) {
                final int s = slot;
                jobs.add(pool.submit(() -> ByteArrayJob.run(s, 40)));
            }
            Future<Integer> listed =
                    pool.submit(() -> UsbDevice.usbDeviceList(new int[10], new int[10], 9, VENDOR, PRODUCT));
            assertEquals(3, listed.get().intValue());
            assertArrayEquals(jobs.get(0).get().sent(), VirtualPrinters.takeReceived(a));
            assertArrayEquals(jobs.get(1).get().sent(), VirtualPrinters.takeReceived(b));
        } finally {
            pool.shutdownNow();
        }
    }

    /** A job of numbered chunks written to one slot, each checked. */
    private static final class ByteArrayJob {
        private final java.io.ByteArrayOutputStream sent = new java.io.ByteArrayOutputStream();

        static ByteArrayJob run(int slot, int chunks) {
            ByteArrayJob job = new ByteArrayJob();
            for (int i = 0; i < chunks; ++i) {
                byte[] chunk = ascii("slot " + slot + " chunk " + i + ";");
                assertTrue(UsbDevice.writeData(chunk, 0, chunk.length, 5000, slot));
                job.sent.write(chunk, 0, chunk.length);
            }
            return job;
        }

        byte[] sent() {
            return sent.toByteArray();
        }
    }
}
