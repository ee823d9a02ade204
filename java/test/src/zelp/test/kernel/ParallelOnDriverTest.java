package zelp.test.kernel;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.quenrix.zel.comm.ParallelPort;
import java.io.IOException;
import java.io.RandomAccessFile;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.Timeout;

/**
 * ParallelPort through zelp.jar on parport_pc, ppdev and lp, over QEMU's emulated port whose far
 * side is a file: every byte written must land there, in order.
 */
@Timeout(60)
class ParallelOnDriverTest {
    private static final Path PORT_OUTPUT = Path.of(System.getProperty("zelp.kernel.lpt"));

    @AfterEach
    void closePort() throws Exception {
        ParallelPort.closeParallelPort();
        modprobe("lp");
    }

    private static void modprobe(String... arguments) throws Exception {
        String[] command = new String[arguments.length + 1];
        command[0] = "modprobe";
        System.arraycopy(arguments, 0, command, 1, arguments.length);
        Process process = new ProcessBuilder(command).inheritIO().start();
        assertTrue(process.waitFor(20, TimeUnit.SECONDS) && process.exitValue() == 0);
        // The node appears a moment after the module is in.
        Path lp0 = Path.of("/dev/lp0");
        if (arguments.length == 1 && arguments[0].equals("lp")) {
            for (int i = 0; i < 100 && !Files.exists(lp0); i++) {
                Thread.sleep(20);
            }
        }
    }

    private static byte[] ascii(String text) {
        return text.getBytes(StandardCharsets.US_ASCII);
    }

    /** Writes a job through the open port and checks it is what reached the port's far side. */
    private static void assertPrints(String name) throws Exception {
        byte[] job = ascii("job through " + name + ": " + "0123456789".repeat(40) + "\n");
        long before = Files.size(PORT_OUTPUT);
        ParallelPort.setWriteComplete(false);
        assertTrue(ParallelPort.writeData(job, 0, job.length), "write through " + name);
        assertTrue(ParallelPort.isWriteComplete());
        assertArrayEquals(job, tailOf(before, job.length), "what reached the port from " + name);
    }

    private static byte[] tailOf(long from, int count) throws IOException, InterruptedException {
        long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(10);
        while (Files.size(PORT_OUTPUT) < from + count && System.nanoTime() < deadline) {
            Thread.sleep(20);
        }
        try (RandomAccessFile file = new RandomAccessFile(PORT_OUTPUT.toFile(), "r")) {
            byte[] got = new byte[(int) Math.min(count, file.length() - from)];
            file.seek(from);
            file.readFully(got);
            return got;
        }
    }

    @Test
    void eachNameOfThePortPrintsAndIsOnLine() throws Exception {
        // With lp loaded, ppdev still claims the port beside it.
        for (String name : new String[] {"/dev/parport0", "LPT1", "/dev/lp0"}) {
            assertTrue(ParallelPort.openParallelPort(name), name);
            assertTrue(ParallelPort.detectParallelPort(), name + " on line");
            assertPrints(name);
        }
    }

    @Test
    void withoutLpTheParportNodeStillPrintsAndLp0IsGone() throws Exception {
        ParallelPort.closeParallelPort();
        modprobe("-r", "lp");
        assertFalse(ParallelPort.openParallelPort("/dev/lp0"));
        for (String name : new String[] {"LPT1", "/dev/parport0"}) {
            assertTrue(ParallelPort.openParallelPort(name), name);
            assertTrue(ParallelPort.detectParallelPort());
            assertPrints(name);
        }
    }

    @Test
    void theReverseChannelReadIsRefusedAndTheNextWriteStillPrints() throws Exception {
        assertTrue(ParallelPort.openParallelPort("LPT1"));
        byte[] buffer = new byte[64];
        Arrays.fill(buffer, (byte) 0x5A);
        ParallelPort.setReadComplete(false);
        long start = System.nanoTime();
        // No IEEE 1284 peripheral answers the negotiation for nibble mode.
        assertEquals(0, ParallelPort.readData(buffer, buffer.length));
        long took = TimeUnit.NANOSECONDS.toMillis(System.nanoTime() - start);
        assertTrue(took < 5000, "the refused read took " + took + " ms");
        assertTrue(ParallelPort.isReadComplete());
        for (byte b : buffer) {
            assertEquals((byte) 0x5A, b);
        }
        assertPrints("LPT1 after the read");
    }
}
