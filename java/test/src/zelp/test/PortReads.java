package zelp.test;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.quenrix.zel.comm.ParallelPort;
import java.io.ByteArrayOutputStream;

/** Reading through ParallelPort.readData, checking on every call what it may and may not touch. */
public final class PortReads {
    /** What an untouched element of a read buffer holds. */
    public static final byte SENTINEL = (byte) 0x5A;

    private PortReads() {}

    /**
     * Reads until {@code count} bytes have come, each call into a fresh buffer of {@code arraySize}
     * elements with {@code length} asked. Every call must fill from index 0, return at most {@code
     * length} and leave the rest of the array as it was. The time limit only ends a test that would
     * otherwise hang; the peer's bytes may take a moment to cross the line.
     */
    public static byte[] collect(int count, int arraySize, int length) {
        ByteArrayOutputStream got = new ByteArrayOutputStream();
        long deadline = System.nanoTime() + 20_000_000_000L;
        while (got.size() < count && System.nanoTime() < deadline) {
            byte[] buffer = filledWithSentinel(arraySize);
            int n = ParallelPort.readData(buffer, length);
            assertTrue(n >= 0 && n <= length, "read returned " + n + " for a length of " + length);
            assertUntouchedFrom(buffer, n);
            got.write(buffer, 0, n);
        }
        return got.toByteArray();
    }

    public static byte[] filledWithSentinel(int size) {
        byte[] buffer = new byte[size];
        java.util.Arrays.fill(buffer, SENTINEL);
        return buffer;
    }

    public static void assertUntouchedFrom(byte[] buffer, int from) {
        for (int i = from; i < buffer.length; i++) {
            assertEquals(SENTINEL, buffer[i], "element " + i + " was touched");
        }
    }
}
