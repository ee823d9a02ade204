package zelp.test.pty;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.quenrix.zel.comm.ParallelPort;
import java.nio.ByteBuffer;
import java.nio.charset.StandardCharsets;
import java.util.Arrays;
import java.util.HashSet;
import java.util.Set;
import java.util.concurrent.Callable;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.Timeout;
import zelp.test.PortReads;
import zelp.test.Pty;

/** The shipped library on a real line: the test plays the printer on the master side of a pty. */
@Timeout(120)
class ParallelPortOnPtyTest {
    private static final int PATIENCE_MS = 20_000;

    private Pty printer;

    @BeforeEach
    void plugInPrinter() {
        ParallelPort.closeParallelPort();
        printer = Pty.open();
    }

    @AfterEach
    void unplugPrinter() {
        ParallelPort.closeParallelPort();
        printer.close();
    }

    private static byte[] ascii(String text) {
        return text.getBytes(StandardCharsets.US_ASCII);
    }

    private void assertPrinterReceives(byte[] expected) {
        assertArrayEquals(expected, printer.receive(expected.length, PATIENCE_MS));
    }

    @Test
    void everyByteValueArrivesUnchanged() {
        byte[] all = new byte[256];
        for (int i = 0; i < all.length; i++) {
            all[i] = (byte) i;
        }
        assertTrue(ParallelPort.openParallelPort(printer.path()));
        assertTrue(ParallelPort.writeData(all, 0, all.length));
        assertPrinterReceives(all);
    }

    @Test
    void onlyTheGivenRangeIsSent() {
        byte[] data = ascii("0123456789abcdef");
        assertTrue(ParallelPort.openParallelPort(printer.path()));
        assertTrue(ParallelPort.writeData(data, 3, 5));
        assertTrue(ParallelPort.writeData(data, 16, 0), "an empty range at the end is a valid one");
        assertTrue(ParallelPort.writeData(ascii("|end"), 0, 4));
        // The marker proves that nothing beyond the range went out before it.
        assertPrinterReceives(ascii("34567|end"));
    }

    @Test
    void aReadFillsFromIndexZeroAndLeavesTheRestAlone() {
        assertTrue(ParallelPort.openParallelPort(printer.path()));
        byte[] reply = ascii("PRINTER READY\r\n");
        printer.write(reply);
        // Asking for 4 of 64 elements: each call fills at most 4, from 0.
        assertArrayEquals(reply, PortReads.collect(reply.length, 64, 4));

        printer.write(reply);
        assertArrayEquals(reply, PortReads.collect(reply.length, reply.length, reply.length));
    }

    @Test
    void aReadWithNothingSentGivesZeroAndStillSetsTheFlag() {
        assertTrue(ParallelPort.openParallelPort(printer.path()));
        ParallelPort.setReadComplete(false);
        byte[] buffer = PortReads.filledWithSentinel(32);
        assertEquals(0, ParallelPort.readData(buffer, 32));
        assertTrue(ParallelPort.isReadComplete());
        PortReads.assertUntouchedFrom(buffer, 0);
    }

    @Test
    void thePrinterIsOnLineUntilItHangsUp() throws InterruptedException {
        assertTrue(ParallelPort.openParallelPort(printer.path()));
        assertTrue(ParallelPort.detectParallelPort());
        printer.hangUp();
        // The hang-up reaches the line at once in practice; the loop only
        // keeps a slow machine from failing the test.
        long deadline = System.nanoTime() + PATIENCE_MS * 1_000_000L;
        while (ParallelPort.detectParallelPort() && System.nanoTime() < deadline) {
            Thread.sleep(10);
        }
        assertFalse(ParallelPort.detectParallelPort());

        ParallelPort.setWriteComplete(false);
        assertFalse(ParallelPort.writeData(ascii("lost"), 0, 4), "nobody is there to take it");
        assertFalse(ParallelPort.isWriteComplete());
    }

    @Test
    void theFlagsChangeOnlyThroughTheirOwnEvents() {
        assertFalse(ParallelPort.setWriteComplete(false));
        assertFalse(ParallelPort.isWriteComplete());
        assertTrue(ParallelPort.setWriteComplete(true));
        assertTrue(ParallelPort.isWriteComplete());
        assertFalse(ParallelPort.setReadComplete(false));
        assertFalse(ParallelPort.isReadComplete());

        // Opening and closing leave both flags as they are, set or not.
        assertTrue(ParallelPort.openParallelPort(printer.path()));
        assertTrue(ParallelPort.isWriteComplete());
        assertFalse(ParallelPort.isReadComplete());

        ParallelPort.setWriteComplete(false);
        assertFalse(ParallelPort.writeData(null, 0, 0));
        assertFalse(ParallelPort.isWriteComplete(), "a failed write keeps the flag");
        assertTrue(ParallelPort.writeData(ascii("x"), 0, 1));
        assertTrue(ParallelPort.isWriteComplete(), "a successful write sets it");
        ParallelPort.setWriteComplete(false);
        assertFalse(ParallelPort.isWriteComplete(), "until the next successful write");

        ParallelPort.readData(new byte[8], 8);
        assertTrue(ParallelPort.isReadComplete());
        ParallelPort.setReadComplete(false);
        assertEquals(0, ParallelPort.readData(null, 8));
        assertTrue(ParallelPort.isReadComplete(), "a failed read sets the flag too");

        ParallelPort.closeParallelPort();
        assertFalse(ParallelPort.isWriteComplete());
        assertTrue(ParallelPort.isReadComplete());
        assertPrinterReceives(ascii("x"));
    }

    @Test
    void badArraysAndRangesSendAndTouchNothing() {
        assertTrue(ParallelPort.openParallelPort(printer.path()));
        byte[] data = ascii("abcdefgh");
        ParallelPort.setWriteComplete(false);
        int[][] badRanges = {
            {-1, 2}, {0, -1}, {0, 9}, {8, 1}, {9, 0}, {1, Integer.MAX_VALUE},
            {Integer.MAX_VALUE, 1}, {Integer.MIN_VALUE, 4},
        };
        for (int[] range : badRanges) {
            assertFalse(ParallelPort.writeData(data, range[0], range[1]), Arrays.toString(range));
        }
        assertFalse(ParallelPort.writeData(null, 0, 4));
        assertFalse(ParallelPort.isWriteComplete());
        assertArrayEquals(ascii("abcdefgh"), data);

        printer.write(ascii("reply"));
        byte[] buffer = PortReads.filledWithSentinel(4);
        for (int length : new int[] {-1, 5, Integer.MAX_VALUE, Integer.MIN_VALUE}) {
            ParallelPort.setReadComplete(false);
            assertEquals(0, ParallelPort.readData(buffer, length), "length " + length);
            assertTrue(ParallelPort.isReadComplete());
        }
        assertEquals(0, ParallelPort.readData(null, 4));
        PortReads.assertUntouchedFrom(buffer, 0);

        // Nothing went out and nothing was consumed by the refused calls.
        assertTrue(ParallelPort.writeData(ascii("|end"), 0, 4));
        assertPrinterReceives(ascii("|end"));
        assertArrayEquals(ascii("reply"), PortReads.collect(5, 16, 16));
    }

    @Test
    void namesThatNameNoDeviceFailAndLeaveNoPort() {
        for (String name : new String[] {null, "", "/dev/zelp-no-such-printer"}) {
            assertFalse(ParallelPort.openParallelPort(name), String.valueOf(name));
            assertFalse(ParallelPort.detectParallelPort());
            assertFalse(ParallelPort.writeData(ascii("x"), 0, 1));
            assertEquals(0, ParallelPort.readData(new byte[4], 4));
        }
        assertTrue(ParallelPort.closeParallelPort());
        assertTrue(ParallelPort.closeParallelPort(), "closing with no port is fine too");
        // An open after failed ones works like a first open.
        assertTrue(ParallelPort.openParallelPort(printer.path()));
        assertTrue(ParallelPort.writeData(ascii("ok"), 0, 2));
        assertPrinterReceives(ascii("ok"));
    }

    @Test
    void aClosedPortCanBeOpenedAgain() {
        for (int round = 0; round < 3; round++) {
            assertTrue(ParallelPort.openParallelPort(printer.path()), "round " + round);
            byte[] line = ascii("round " + round + "\n");
            assertTrue(ParallelPort.writeData(line, 0, line.length));
            assertPrinterReceives(line);
            assertTrue(ParallelPort.closeParallelPort());
            assertFalse(ParallelPort.detectParallelPort());
            assertFalse(ParallelPort.writeData(line, 0, line.length));
        }
    }

    @Test
    void openingWhileOpenClosesThePortBefore() {
        try (Pty other = Pty.open()) {
            assertTrue(ParallelPort.openParallelPort(printer.path()));
            assertTrue(ParallelPort.openParallelPort(printer.path()), "the same port again");
            assertTrue(ParallelPort.openParallelPort(other.path()));
            assertTrue(ParallelPort.writeData(ascii("B"), 0, 1));
            assertArrayEquals(ascii("B"), other.receive(1, PATIENCE_MS));

            // The first port was let go, so it opens again.
            assertTrue(ParallelPort.openParallelPort(printer.path()));
            assertTrue(ParallelPort.writeData(ascii("A"), 0, 1));
            assertPrinterReceives(ascii("A"));
        }
    }

    @Test
    void blocksFromTwoThreadsArriveWholeAndOnce() throws Exception {
        final int blocks = 60;
        final int blockSize = 300;
        assertTrue(ParallelPort.openParallelPort(printer.path()));
        ExecutorService pool = Executors.newFixedThreadPool(3);
        try {
            Future<byte[]> received =
                    pool.submit(() -> printer.receive(2 * blocks * blockSize, 60_000));
            Future<Boolean> first = pool.submit(writer(1, blocks, blockSize));
            Future<Boolean> second = pool.submit(writer(2, blocks, blockSize));
            assertTrue(first.get());
            assertTrue(second.get());
            byte[] stream = received.get();
            assertEquals(2 * blocks * blockSize, stream.length);
            assertBlocksWholeAndInOrder(stream, blocks, blockSize);
        } finally {
            pool.shutdownNow();
        }
    }

    private static Callable<Boolean> writer(int id, int blocks, int blockSize) {
        return () -> {
            for (int seq = 0; seq < blocks; seq++) {
                byte[] block = block(id, seq, blockSize);
                if (!ParallelPort.writeData(block, 0, block.length)) {
                    return false;
                }
            }
            return true;
        };
    }

    // A block says who wrote it and its number; every other byte follows
    // from those, so a block cut by another one shows.
    private static byte[] block(int id, int seq, int size) {
        ByteBuffer block = ByteBuffer.allocate(size);
        block.put((byte) id).putShort((short) seq);
        while (block.hasRemaining()) {
            block.put((byte) (id * 31 + seq + block.position()));
        }
        return block.array();
    }

    private static void assertBlocksWholeAndInOrder(byte[] stream, int blocks, int size) {
        Set<Integer> seen = new HashSet<>();
        int[] next = new int[3];
        for (int at = 0; at < stream.length; at += size) {
            byte[] got = Arrays.copyOfRange(stream, at, at + size);
            int id = got[0];
            int seq = ByteBuffer.wrap(got, 1, 2).getShort();
            assertTrue(id == 1 || id == 2, "block at " + at + " has no writer");
            assertArrayEquals(block(id, seq, size), got, "block at " + at + " was cut");
            assertTrue(seen.add(id * 100_000 + seq), "block " + id + "/" + seq + " came twice");
            assertEquals(next[id]++, seq, "writer " + id + "'s blocks came out of order");
        }
        assertEquals(2 * blocks, seen.size());
    }
}
