package zelp.test.loader;

import com.quenrix.zel.comm.ParallelPort;
import dravn.usb.UsbDevice;
import zelp.internal.NativeLoader;

/**
 * What an application does first: list the USB printers of a model. Run in a JVM of its own with
 * only zelp.jar and this class on the class path; prints how the library was loaded.
 */
public final class ListPrinters {
    public static void main(String[] args) {
        int[] serials = new int[10];
        int[] usbSerials = new int[10];
        int count = UsbDevice.usbDeviceList(serials, usbSerials, 0, "4660", "22136");
        System.out.println("printers: " + count);
        // The second class finds the library loaded by the first.
        System.out.println("parallel port on line: " + ParallelPort.detectParallelPort());
        System.out.println("loaded from: " + NativeLoader.loadedFrom());
        for (String way : NativeLoader.passedOver()) {
            System.out.println("passed over: " + way);
        }
    }
}
