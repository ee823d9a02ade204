package zelp.test.kernel;

import dravn.usb.UsbDevice;
import java.io.FileOutputStream;
import java.util.Arrays;

/**
 * The kernel suite's throughput figure: UsbDevice.writeData against a FileOutputStream on the same
 * /dev/usb/lpN, trials alternating in one JVM (the order flipping from pair to pair). Each trial
 * opens the printer (usblp lets one program open the node at a time), times 4 MiB in 64 KiB calls,
 * closes it, and checks that the printer got every byte; the open, the close and the check are
 * not timed, since finding a printer by its serial is not what the figure is about. Prints {@code
 * figure usblp_write RATIO ...}, the median of the per-pair ratios of ours over the stream's
 * MB/s, which scripts/test-kernel and scripts/bench report.
 */
public final class WriteFigure {
    private static final int CHUNK = 64 * 1024;
    private static final int CALLS = 64;
    private static final int WARM_UPS = 1;
    /** How many pairs: more where the figure is all that runs (scripts/test-kernel --figure). */
    private static final int PAIRS = Integer.getInteger("zelp.kernel.pairs", 6);
    private static final int SLOT = 0;

    private WriteFigure() {}

    public static void main(String[] args) throws Exception {
        PrinterGadget printer = PrinterGadget.NUMBERED;
        printer.reset();
        byte[] chunk = new byte[CHUNK];
        for (int i = 0; i < CHUNK; i++) {
            chunk[i] = (byte) (i * 13);
        }
        double[] ours = new double[PAIRS];
        double[] theirs = new double[PAIRS];
        for (int i = 0; i < WARM_UPS; i++) {
            viaUsbDevice(chunk, printer);
            viaStream(chunk, printer);
        }
        for (int i = 0; i < PAIRS; i++) {
            if (i % 2 == 0) {
                ours[i] = viaUsbDevice(chunk, printer);
                theirs[i] = viaStream(chunk, printer);
            } else {
                theirs[i] = viaStream(chunk, printer);
                ours[i] = viaUsbDevice(chunk, printer);
            }
        }
        double[] ratios = new double[PAIRS];
        for (int i = 0; i < PAIRS; i++) {
            ratios[i] = ours[i] / theirs[i];
        }
        System.out.printf(
                "figure usblp_write %.4f ours=%.3gMB/s baseline=%.3gMB/s pairs=%d"
                        + " (writeData against FileOutputStream, 64 KiB calls, %s)%n",
                median(ratios),
                median(ours),
                median(theirs),
                PAIRS,
                printer.node());
    }

    // writeData returns once usblp has sent the last block (POLLOUT).
    private static double viaUsbDevice(byte[] chunk, PrinterGadget printer) {
        printer.reset();
        if (!UsbDevice.openUsbPort("123456", SLOT, "4660", "22136")) {
            throw new IllegalStateException("the printer does not open");
        }
        long start = System.nanoTime();
        for (int i = 0; i < CALLS; i++) {
            if (!UsbDevice.writeData(chunk, 0, chunk.length, 10_000, SLOT)) {
                throw new IllegalStateException("writeData failed");
            }
        }
        long elapsed = System.nanoTime() - start;
        UsbDevice.closeUsbPort(SLOT);
        return megabytesPerSecond(elapsed, printer);
    }

    // A blocking write returns once usblp has sent its last block too.
    private static double viaStream(byte[] chunk, PrinterGadget printer) throws Exception {
        printer.reset();
        long elapsed;
        try (FileOutputStream out = new FileOutputStream(printer.node().toFile())) {
            long start = System.nanoTime();
            for (int i = 0; i < CALLS; i++) {
                out.write(chunk);
            }
            elapsed = System.nanoTime() - start;
        }
        return megabytesPerSecond(elapsed, printer);
    }

    private static double megabytesPerSecond(long elapsedNanos, PrinterGadget printer) {
        long total = (long) CHUNK * CALLS;
        if (printer.awaitReceived(total, 20_000) != total) {
            throw new IllegalStateException("the printer did not get every byte");
        }
        return total / (elapsedNanos / 1e9) / 1e6;
    }

    private static double median(double[] values) {
        double[] sorted = values.clone();
        Arrays.sort(sorted);
        int mid = sorted.length / 2;
        return sorted.length % 2 == 1 ? sorted[mid] : (sorted[mid - 1] + sorted[mid]) / 2;
    }
}
