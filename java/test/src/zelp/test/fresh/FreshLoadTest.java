package zelp.test.fresh;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.quenrix.zel.comm.ParallelPort;
import org.junit.jupiter.api.Test;

/**
 * The state of a library just loaded. Runs in a JVM of its own: any other test would have moved the
 * flags already.
 */
class FreshLoadTest {
    @Test
    void aFreshLibraryHasNoPortAndBothFlagsClear() {
        assertFalse(ParallelPort.isWriteComplete());
        assertFalse(ParallelPort.isReadComplete());

        assertFalse(ParallelPort.detectParallelPort());
        assertFalse(ParallelPort.writeData(new byte[] {1, 2, 3}, 0, 3));
        assertFalse(ParallelPort.isWriteComplete(), "a write without a port keeps the flag");
        byte[] buffer = {7, 7, 7, 7};
        assertEquals(0, ParallelPort.readData(buffer, 4));
        assertEquals(7, buffer[0]);
        assertTrue(ParallelPort.isReadComplete(), "a read without a port still sets its flag");
        assertTrue(ParallelPort.closeParallelPort());
    }
}
