package zelp.demo;

import dravn.usb.UsbDevice;
import java.nio.charset.StandardCharsets;
import zelp.sim.VirtualPrinters;

/**
 * Drives virtual USB label printers: list the printers of a model (one has no serial number and
 * is asked for its identity), open two of them in slots 0 and 1, print a job to each while
 * watching the slot's write-complete flag, read a status reply, check that both are present,
 * unplug one and check again, close. Run it with the sim copy of the library on
 * java.library.path.
 */
public final class UsbDemo {
    private static final String VENDOR = "4660"; // 0x1234
    private static final String PRODUCT = "22136"; // 0x5678
    private static final int CHUNK = 256;
    private static final int TIMEOUT_MS = 5000;

    private UsbDemo() {}

    private static String path(String serialField) {
        return "\\\\?\\usb#vid_1234&pid_5678#" + serialField
                + "#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
    }

    public static void main(String[] args) throws InterruptedException {
        VirtualPrinters.reset();
        String first = path("000101");
        String second = path("000202");
        String unnumbered = path("NOSERIAL");
        for (String printer : new String[] {first, second, unnumbered}) {
            VirtualPrinters.addUsbPrinter(printer);
            // A real printer takes its time; so do these, to make the progress visible.
            VirtualPrinters.setWriteDelayMillis(printer, 25);
        }
        VirtualPrinters.addUsbPrinter("\\\\?\\usb#vid_04b8&pid_0202#000303#{other-model}");
        VirtualPrinters.answerIdentity(unnumbered, "7a4711\r");

        boolean ok = listPrinters() == 3;
        ok &= open(101, 0) && open(202, 1);
        ok &= print(0, first) & print(1, second);

        VirtualPrinters.queueReply(first, ascii("STATUS OK, 2 LABELS LEFT\r\n"));
        System.out.println("Slot 0 printer says: " + readReply(0).trim());

        System.out.println("Slot 0 present: " + yesNo(UsbDevice.detectUsbDevice(0))
                + ", slot 1 present: " + yesNo(UsbDevice.detectUsbDevice(1)));
        VirtualPrinters.unplug(second);
        System.out.println("Someone pulled out the slot 1 printer's cable.");
        boolean gone = !UsbDevice.detectUsbDevice(1);
        System.out.println("Slot 0 present: " + yesNo(UsbDevice.detectUsbDevice(0))
                + ", slot 1 present: " + yesNo(!gone));
        ok &= gone;

        UsbDevice.closeUsbPort(0);
        UsbDevice.closeUsbPort(1);
        System.out.println("Slots closed.");
        System.exit(ok ? 0 : 1);
    }

    private static int listPrinters() {
        int[] serials = new int[10];
        int[] numbered = new int[10];
        System.out.println("Looking for printers of model " + VENDOR + "/" + PRODUCT + " ...");
        int count = UsbDevice.usbDeviceList(serials, numbered, 0, VENDOR, PRODUCT);
        for (int i = 0; i < count; i++) {
            String how = numbered[i] == 0 ? "identity query" : "USB serial number";
            System.out.printf("  printer %d: serial %d (from its %s)%n", i + 1, serials[i], how);
        }
        return count;
    }

    private static boolean open(int serial, int slot) {
        boolean opened = UsbDevice.openUsbPort(Integer.toString(serial), slot, VENDOR, PRODUCT);
        System.out.printf("Opening printer %d in slot %d: %s%n", serial, slot,
                opened ? "done" : "failed");
        return opened;
    }

    private static boolean print(int slot, String printer) throws InterruptedException {
        byte[] job = labelJob(slot, 12);
        for (int sent = 0; sent < job.length; ) {
            int length = Math.min(CHUNK, job.length - sent);
            UsbDevice.setWriteComplete(false, slot);
            if (!UsbDevice.writeData(job, sent, length, TIMEOUT_MS, slot)) {
                System.out.printf("%nSlot %d: the printer did not take the chunk at byte %d.%n",
                        slot, sent);
                return false;
            }
            while (!UsbDevice.isWriteComplete(slot)) {
                Thread.sleep(1);
            }
            sent += length;
            Progress.show("Slot " + slot, sent, job.length);
        }
        int delivered = VirtualPrinters.takeReceived(printer).length;
        System.out.printf("Slot %d: the printer received %d of %d bytes.%n", slot, delivered,
                job.length);
        return delivered == job.length;
    }

    private static String readReply(int slot) {
        byte[] buffer = new byte[128];
        UsbDevice.setReadComplete(false, slot);
        int n = UsbDevice.readData(buffer, buffer.length, slot);
        if (!UsbDevice.isReadComplete(slot)) {
            return "(no read took place)";
        }
        return n == 0 ? "(nothing)" : new String(buffer, 0, n, StandardCharsets.US_ASCII);
    }

    private static byte[] labelJob(int slot, int labels) {
        StringBuilder job = new StringBuilder();
        for (int i = 1; i <= labels; i++) {
            job.append(String.format("^XA^FO50,50^FDSLOT %d LABEL %02d OF %02d^FS", slot, i,
                    labels));
            job.append("^FO50,100^FDShipping to: Dock 4, Gate B^FS");
            job.append(String.format("^FO50,150^BCN,80^FD%010d^FS^XZ\r\n", slot * 100000 + i));
        }
        return ascii(job.toString());
    }

    private static byte[] ascii(String text) {
        return text.getBytes(StandardCharsets.US_ASCII);
    }

    private static String yesNo(boolean value) {
        return value ? "yes" : "no";
    }
}
