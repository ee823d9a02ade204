package zelp.test.sim;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.quenrix.zel.comm.ParallelPort;
import java.nio.charset.StandardCharsets;
import java.util.Arrays;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.Timeout;
import zelp.sim.VirtualPrinters;
import zelp.test.PortReads;

/** The sim copy of the library, with virtual printers scripted through VirtualPrinters. */
@Timeout(120)
class ParallelPortOnSimTest {
    private static final String LPT1 = "LPT1";

    @BeforeEach
    void addPrinter() {
        ParallelPort.closeParallelPort();
        VirtualPrinters.reset();
        VirtualPrinters.addParallelPrinter(LPT1);
    }

    @AfterEach
    void removePrinters() {
        ParallelPort.closeParallelPort();
        VirtualPrinters.reset();
    }

    private static byte[] ascii(String text) {
        return text.getBytes(StandardCharsets.US_ASCII);
    }

    @Test
    void aJobReachesThePrinterExactlyAsGiven() {
        byte[] job = ascii("##LABEL 1 OF 1\r\nSKU 4711\r\n##");
        assertTrue(ParallelPort.openParallelPort(LPT1));
        ParallelPort.setWriteComplete(false);
        assertTrue(ParallelPort.writeData(job, 2, job.length - 4));
        assertTrue(ParallelPort.isWriteComplete());
        assertArrayEquals(Arrays.copyOfRange(job, 2, job.length - 2), VirtualPrinters.takeReceived(LPT1));
    }

    @Test
    void aQueuedReplyIsReadBackAndThenNothing() {
        byte[] reply = ascii("OK 42\r");
        VirtualPrinters.queueReply(LPT1, reply);
        assertTrue(ParallelPort.openParallelPort(LPT1));
        assertArrayEquals(reply, PortReads.collect(reply.length, 32, 32));

        ParallelPort.setReadComplete(false);
        byte[] buffer = PortReads.filledWithSentinel(8);
        assertEquals(0, ParallelPort.readData(buffer, 8));
        assertTrue(ParallelPort.isReadComplete());
        PortReads.assertUntouchedFrom(buffer, 0);
    }

    @Test
    void onlyOffLineAndPowerOffMeanOffLine() {
        assertTrue(ParallelPort.openParallelPort(LPT1));
        for (int status : new int[] {0x00, 0x04, 0x20, 0x40, 0x80, 0xE4}) {
            VirtualPrinters.setParallelStatus(LPT1, status);
            assertTrue(ParallelPort.detectParallelPort(), "status " + Integer.toHexString(status));
        }
        for (int status : new int[] {0x08, 0x10, 0x18, 0xFF}) {
            VirtualPrinters.setParallelStatus(LPT1, status);
            assertFalse(ParallelPort.detectParallelPort(), "status " + Integer.toHexString(status));
        }
    }

    @Test
    void absentOrBusyPrintersCannotBeOpened() {
        assertFalse(ParallelPort.openParallelPort("LPT9"));
        VirtualPrinters.unplug(LPT1);
        assertFalse(ParallelPort.openParallelPort(LPT1));
        VirtualPrinters.plugIn(LPT1);
        VirtualPrinters.holdOpenElsewhere(LPT1, true);
        assertFalse(ParallelPort.openParallelPort(LPT1), "ports are not shared");
        VirtualPrinters.holdOpenElsewhere(LPT1, false);
        assertTrue(ParallelPort.openParallelPort(LPT1));
    }

    @Test
    void aPrinterPulledOutIsOffLineAndTakesNoJob() {
        assertTrue(ParallelPort.openParallelPort(LPT1));
        VirtualPrinters.unplug(LPT1);
        assertFalse(ParallelPort.detectParallelPort());
        ParallelPort.setWriteComplete(false);
        assertFalse(ParallelPort.writeData(ascii("lost"), 0, 4));
        assertFalse(ParallelPort.isWriteComplete());

        VirtualPrinters.plugIn(LPT1);
        assertTrue(ParallelPort.openParallelPort(LPT1), "a new open finds it again");
        assertTrue(ParallelPort.writeData(ascii("back"), 0, 4));
        assertArrayEquals(ascii("back"), VirtualPrinters.takeReceived(LPT1));
    }

    @Test
    void noPortHandleIsEverLeftBehind() {
        VirtualPrinters.addParallelPrinter("LPT2");
        int atRest = VirtualPrinters.openHandleCount();
        assertTrue(ParallelPort.openParallelPort(LPT1));
        int withPort = VirtualPrinters.openHandleCount();
        assertTrue(withPort > atRest);

        assertTrue(ParallelPort.openParallelPort(LPT1));
        assertEquals(withPort, VirtualPrinters.openHandleCount(), "the same port opened again");
        assertTrue(ParallelPort.openParallelPort("LPT2"));
        assertEquals(withPort, VirtualPrinters.openHandleCount(), "another port instead");
        assertFalse(ParallelPort.openParallelPort("LPT9"));
        assertFalse(ParallelPort.openParallelPort(null));
        ParallelPort.closeParallelPort();
        assertEquals(atRest, VirtualPrinters.openHandleCount());
    }

    @Test
    void aStalledWriteFailsAndKeepsTheFlag() {
        assertTrue(ParallelPort.openParallelPort(LPT1));
        VirtualPrinters.setWriteStalled(LPT1, true);
        ParallelPort.setWriteComplete(false);
        assertFalse(ParallelPort.writeData(ascii("stuck"), 0, 5), "the port's write time-out ends it");
        assertFalse(ParallelPort.isWriteComplete());

        VirtualPrinters.setWriteStalled(LPT1, false);
        VirtualPrinters.takeReceived(LPT1);
        assertTrue(ParallelPort.writeData(ascii("free"), 0, 4));
        assertTrue(ParallelPort.isWriteComplete());
    }
}
