package example.labels;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import dravn.usb.UsbDevice;
import java.nio.charset.StandardCharsets;
import org.junit.jupiter.api.Test;
import zelp.sim.VirtualPrinters;

/** The dependency as an application meets it, on the virtual printers of the sim library. */
class LabelPrinterTest {
    private static final String USB_PRINTER =
            "\\\\?\\usb#vid_1234&pid_5678#123456#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";

    @Test
    void theClassesComeFromTheReleaseJarAndAJobReachesEachKindOfPrinter() {
        // The jar Maven resolved is the one the build under test laid out.
        assertEquals(System.getProperty("zelp.version"),
                UsbDevice.class.getPackage().getImplementationVersion());

        VirtualPrinters.reset();
        assertTrue(VirtualPrinters.addUsbPrinter(USB_PRINTER));
        assertTrue(VirtualPrinters.addParallelPrinter("LPT1"));
        byte[] job = "LABEL 1 OF 1\f".getBytes(StandardCharsets.US_ASCII);

        assertEquals(1, LabelPrinter.countPrinters("4660", "22136"));
        assertTrue(LabelPrinter.printOnUsb("123456", "4660", "22136", job));
        assertArrayEquals(job, VirtualPrinters.takeReceived(USB_PRINTER));
        assertTrue(LabelPrinter.printOnParallelPort("LPT1", job));
        assertArrayEquals(job, VirtualPrinters.takeReceived("LPT1"));
        VirtualPrinters.reset();
    }
}
