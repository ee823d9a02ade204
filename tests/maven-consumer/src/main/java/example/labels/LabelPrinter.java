package example.labels;

import com.quenrix.zel.comm.ParallelPort;
import dravn.usb.UsbDevice;

/** What an application does with the library: find its printers and send each a job. */
public final class LabelPrinter {
    private static final int SLOT = 0;

    private LabelPrinter() {}

    /** How many printers of a model are plugged in (ids in decimal, as the library takes them). */
    public static int countPrinters(String vendor, String product) {
        int[] serials = new int[10];
        int[] usbSerials = new int[10];
        return UsbDevice.usbDeviceList(serials, usbSerials, 0, vendor, product);
    }

    /** Sends a whole job to one USB printer; false when it could not be opened or took not all. */
    public static boolean printOnUsb(String serial, String vendor, String product, byte[] job) {
        if (!UsbDevice.openUsbPort(serial, SLOT, vendor, product)) {
            return false;
        }
        try {
            return UsbDevice.writeData(job, 0, job.length, 5000, SLOT);
        } finally {
            UsbDevice.closeUsbPort(SLOT);
        }
    }

    /** Sends a whole job to a parallel port's printer. */
    public static boolean printOnParallelPort(String port, byte[] job) {
        if (!ParallelPort.openParallelPort(port)) {
            return false;
        }
        try {
            return ParallelPort.writeData(job, 0, job.length);
        } finally {
            ParallelPort.closeParallelPort();
        }
    }
}
