package zelp.bench;

import com.quenrix.zel.comm.ParallelPort;
import zelp.sim.VirtualPrinters;

/** The figure over the sim copy of the library: reads of a queued 16-byte reply. */
final class SimFigures {
    private static final String PORT = "LPT1";

    private SimFigures() {}

    /** readData(array, 64) of a 16-byte reply into a 64 MiB array against a 64-byte one. */
    static void readSlice() throws Exception {
        VirtualPrinters.reset();
        if (!VirtualPrinters.addParallelPrinter(PORT) || !ParallelPort.openParallelPort(PORT)) {
            throw new IllegalStateException("the virtual printer could not be opened");
        }
        byte[] huge = new byte[64 << 20];
        byte[] small = new byte[64];
        byte[] reply = ShippedFigures.pattern(16);
        final int reads = 2_000;
        try {
            Paired.measure(3, 15, () -> reads(huge, reply, reads), () -> reads(small, reply, reads))
                    .report("read_slice", "ns");
        } finally {
            ParallelPort.closeParallelPort();
        }
    }

    // The replies are queued before the clock starts: each read takes one.
    private static double reads(byte[] array, byte[] reply, int reads) {
        for (int i = 0; i < reads; ++i) {
            VirtualPrinters.queueReply(PORT, reply);
        }
        VirtualPrinters.takeReceived(PORT);
        long start = System.nanoTime();
        for (int i = 0; i < reads; ++i) {
            if (ParallelPort.readData(array, 64) != reply.length) {
                throw new IllegalStateException("a read did not bring the queued reply");
            }
        }
        return (double) (System.nanoTime() - start) / reads;
    }
}
