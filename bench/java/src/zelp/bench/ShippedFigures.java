package zelp.bench;

import com.quenrix.zel.comm.ParallelPort;
import java.io.FileOutputStream;

/** The figures over the shipped library: the flag poll and the write paths to /dev/null. */
final class ShippedFigures {
    private static final String NULL_DEVICE = "/dev/null";
    private static final int PAIRS = 15;

    private ShippedFigures() {}

    /** isWriteComplete per call against an empty native of the same shape. */
    static void flagPoll() throws Exception {
        final int calls = 2_000_000;
        Paired.measure(5, 15, () -> pollFlag(calls), () -> pollEmpty(calls))
                .report("flag_poll", "ns");
    }

    private static double pollFlag(int calls) {
        long start = System.nanoTime();
        int set = 0;
        for (int i = 0; i < calls; ++i) {
            set += ParallelPort.isWriteComplete() ? 1 : 0;
        }
        long elapsed = System.nanoTime() - start;
        JniBench.sink += set;
        return (double) elapsed / calls;
    }

    private static double pollEmpty(int calls) {
        long start = System.nanoTime();
        int set = 0;
        for (int i = 0; i < calls; ++i) {
            set += BenchNatives.emptyFlag() ? 1 : 0;
        }
        long elapsed = System.nanoTime() - start;
        JniBench.sink += set;
        return (double) elapsed / calls;
    }

    /** writeData in chunks against FileOutputStream with the same chunks, both to /dev/null. */
    static void writeThroughput(String name, int chunkSize, long bytesPerTrial) throws Exception {
        byte[] chunk = pattern(chunkSize);
        long calls = bytesPerTrial / chunkSize;
        openNullPort();
        try (FileOutputStream out = new FileOutputStream(NULL_DEVICE)) {
            Paired.measure(
                            2,
                            PAIRS,
                            () -> portThroughput(chunk, calls),
                            () -> streamThroughput(out, chunk, calls))
                    .report(name, "MB/s");
        } finally {
            ParallelPort.closeParallelPort();
        }
    }

    private static double portThroughput(byte[] chunk, long calls) {
        long start = System.nanoTime();
        for (long i = 0; i < calls; ++i) {
            if (!ParallelPort.writeData(chunk, 0, chunk.length)) {
                throw new IllegalStateException("a write to " + NULL_DEVICE + " failed");
            }
        }
        return megabytesPerSecond(calls * chunk.length, System.nanoTime() - start);
    }

    private static double streamThroughput(FileOutputStream out, byte[] chunk, long calls)
            throws Exception {
        long start = System.nanoTime();
        for (long i = 0; i < calls; ++i) {
            out.write(chunk, 0, chunk.length);
        }
        return megabytesPerSecond(calls * chunk.length, System.nanoTime() - start);
    }

    /** writeData(array, offset, 4096) per call from a 64 MiB array against an 8 KiB one. */
    static void writeSlice() throws Exception {
        final int length = 4096;
        final int calls = 50_000;
        byte[] huge = pattern(64 << 20);
        byte[] small = pattern(8 << 10);
        openNullPort();
        try {
            Paired.measure(
                            3,
                            PAIRS,
                            () -> sliceWrites(huge, calls, length),
                            () -> sliceWrites(small, calls, length))
                    .report("write_slice", "ns");
        } finally {
            ParallelPort.closeParallelPort();
        }
    }

    // The range sits in the middle of the array, the same way in both.
    private static double sliceWrites(byte[] array, int calls, int length) {
        int offset = array.length / 2 - length / 2;
        long start = System.nanoTime();
        for (int i = 0; i < calls; ++i) {
            if (!ParallelPort.writeData(array, offset, length)) {
                throw new IllegalStateException("a write to " + NULL_DEVICE + " failed");
            }
        }
        return (double) (System.nanoTime() - start) / calls;
    }

    // Another program's test may hold /dev/null open through the library for a
    // moment (opens are exclusive), so the open is tried for a while.
    private static void openNullPort() throws InterruptedException {
        for (int attempt = 0; attempt < 100; ++attempt) {
            if (ParallelPort.openParallelPort(NULL_DEVICE)) {
                return;
            }
            Thread.sleep(100);
        }
        throw new IllegalStateException("the port could not be opened on " + NULL_DEVICE);
    }

    static byte[] pattern(int size) {
        byte[] bytes = new byte[size];
        for (int i = 0; i < size; ++i) {
            bytes[i] = (byte) (i * 7 + (i >> 8));
        }
        return bytes;
    }

    static double megabytesPerSecond(long bytes, long nanos) {
        return bytes * 1e3 / nanos;
    }
}
