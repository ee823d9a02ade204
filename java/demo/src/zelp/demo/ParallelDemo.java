package zelp.demo;

import com.quenrix.zel.comm.ParallelPort;
import java.nio.charset.StandardCharsets;
import zelp.sim.VirtualPrinters;

/**
 * Prints a small label job on a virtual parallel printer: open the port, send the job in chunks
 * while watching the write-complete flag, read the printer's answer, ask whether it is on line,
 * close. Run it with the sim copy of the library on java.library.path.
 */
public final class ParallelDemo {
    private static final String PORT = "LPT1";
    private static final int CHUNK = 512;

    private ParallelDemo() {}

    public static void main(String[] args) throws InterruptedException {
        VirtualPrinters.reset();
        VirtualPrinters.addParallelPrinter(PORT);
        // A real printer takes its time; so does this one, to make the progress visible.
        VirtualPrinters.setWriteDelayMillis(PORT, 40);

        System.out.println("Opening " + PORT + " ...");
        if (!ParallelPort.openParallelPort(PORT)) {
            System.out.println("Could not open " + PORT + ".");
            System.exit(1);
        }
        System.out.println("Printer on line: " + yesNo(ParallelPort.detectParallelPort()));

        byte[] job = labelJob(32);
        boolean printed = print(job);
        byte[] delivered = VirtualPrinters.takeReceived(PORT);
        System.out.printf("The printer received %d of %d bytes.%n", delivered.length, job.length);

        VirtualPrinters.queueReply(PORT, ascii("DONE 32 LABELS\r\n"));
        System.out.println("Printer says: " + readReply().trim());

        VirtualPrinters.setParallelStatus(PORT, 0x08);
        System.out.println("Someone pressed the printer's off-line button.");
        System.out.println("Printer on line: " + yesNo(ParallelPort.detectParallelPort()));

        ParallelPort.closeParallelPort();
        System.out.println("Port closed.");
        System.exit(printed && delivered.length == job.length ? 0 : 1);
    }

    private static boolean print(byte[] job) throws InterruptedException {
        for (int sent = 0; sent < job.length; ) {
            int length = Math.min(CHUNK, job.length - sent);
            ParallelPort.setWriteComplete(false);
            if (!ParallelPort.writeData(job, sent, length)) {
                System.out.printf("%nThe printer did not take the chunk at byte %d.%n", sent);
                return false;
            }
            while (!ParallelPort.isWriteComplete()) {
                Thread.sleep(1);
            }
            sent += length;
            Progress.show("Printing", sent, job.length);
        }
        return true;
    }

    private static String readReply() {
        byte[] buffer = new byte[128];
        ParallelPort.setReadComplete(false);
        int n = ParallelPort.readData(buffer, buffer.length);
        if (!ParallelPort.isReadComplete()) {
            return "(no read took place)";
        }
        return n == 0 ? "(nothing)" : new String(buffer, 0, n, StandardCharsets.US_ASCII);
    }

    // A plain-text label job: one block of fields per label.
    private static byte[] labelJob(int labels) {
        StringBuilder job = new StringBuilder();
        for (int i = 1; i <= labels; i++) {
            job.append(String.format("LABEL %03d OF %03d\r\n", i, labels));
            job.append("  ITEM     Hex bolt M8x40, zinc plated\r\n");
            job.append(String.format("  SKU      HB-0840-%05d\r\n", 1000 + i));
            job.append(String.format("  BATCH    2024-%02d-%03d\r\n", 1 + i % 12, i * 7));
            job.append("  QTY      100 pcs\r\nEND\r\n");
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
