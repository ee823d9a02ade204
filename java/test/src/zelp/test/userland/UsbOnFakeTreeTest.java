package zelp.test.userland;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import dravn.usb.UsbDevice;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.Timeout;
import zelp.test.Pty;

/**
 * The shipped library, loaded from zelp.jar in an older userland (scripts/test-old-userland),
 * finds a USB printer where the kernel's usblp would put it: the test lays the sysfs entries out
 * under /sys and /dev of a throwaway root, with /dev/usb/lp0 leading to a pty on whose master it
 * plays the printer. It writes to / and so refuses to run unless that root says it is one.
 */
@Timeout(60)
class UsbOnFakeTreeTest {
    private static final String VENDOR = "4660"; // 0x1234
    private static final String PRODUCT = "22136"; // 0x5678
    private static final int SLOT = 5;

    private static Pty printer;

    private static void write(Path file, String text) throws IOException {
        Files.write(file, (text + "\n").getBytes(StandardCharsets.US_ASCII));
    }

    @BeforeAll
    static void plugInPrinter() throws IOException {
        Path root = Paths.get(System.getProperty("zelp.test.throwawayroot", "(not set)"));
        if (!Files.isRegularFile(root.resolve("zelp-throwaway-root"))) {
            throw new IllegalStateException("not in a throwaway root: " + root);
        }
        printer = Pty.open();
        // The layout usblp and the USB core give it (tests/support/fake_sysfs.cpp).
        Path device = root.resolve("sys/devices/usb1/1-1");
        Path node = device.resolve("1-1:1.0/usbmisc/lp0");
        Files.createDirectories(node);
        Files.createDirectories(root.resolve("sys/class/usbmisc"));
        Files.createDirectories(root.resolve("dev/usb"));
        write(device.resolve("idVendor"), "1234");
        write(device.resolve("idProduct"), "5678");
        write(device.resolve("serial"), "4711");
        Files.createSymbolicLink(node.resolve("device"), Paths.get("../../../1-1:1.0"));
        Files.createSymbolicLink(
                root.resolve("sys/class/usbmisc/lp0"),
                Paths.get("../../devices/usb1/1-1/1-1:1.0/usbmisc/lp0"));
        Files.createSymbolicLink(root.resolve("dev/usb/lp0"), Paths.get(printer.path()));
    }

    @AfterAll
    static void unplugPrinter() {
        UsbDevice.closeUsbPort(SLOT);
        printer.close();
    }

    @Test
    void listsOpensAndWritesToThePrinter() {
        int[] serials = new int[10];
        int[] usbSerials = new int[10];
        assertEquals(1, UsbDevice.usbDeviceList(serials, usbSerials, 0, VENDOR, PRODUCT));
        assertEquals(4711, serials[0]);
        assertEquals(4711, usbSerials[0]);

        assertTrue(UsbDevice.openUsbPort("4711", SLOT, VENDOR, PRODUCT));
        byte[] job = new byte[256];
        for (int i = 0; i < job.length; i++) {
            job[i] = (byte) i;
        }
        assertTrue(UsbDevice.writeData(job, 0, job.length, 10_000, SLOT));
        assertArrayEquals(job, printer.receive(job.length, 20_000));
    }
}
