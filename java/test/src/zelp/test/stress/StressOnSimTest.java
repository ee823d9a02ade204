package zelp.test.stress;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assertions.fail;

import com.quenrix.zel.comm.ParallelPort;
import dravn.usb.UsbDevice;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Random;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.TimeoutException;
import java.util.concurrent.atomic.AtomicLong;
import java.util.concurrent.atomic.AtomicReferenceArray;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.Timeout;
import zelp.sim.VirtualPrinters;

/**
 * Sixteen Java threads call both classes' methods at random, on all 255 slots and the parallel
 * port, while the test stalls, slows, pulls out and holds printers. No call may throw or crash
 * the JVM (which runs with -Xcheck:jni), no thread may hang, every close must come back within the
 * longest time-out in play plus a margin, every job reported written must reach a printer exactly
 * once and in order, and every handle must be closed again.
 */
@Timeout(600)
class StressOnSimTest {
    private static final int WORKERS = 16;
    private static final int PRINTERS = 12;
    private static final String VENDOR = "4660";
    private static final String PRODUCT = "22136";
    private static final int[] USB_TIMEOUTS = {0, 5, 20, 50, 200};
    private static final long MARGIN_MS = 5000;
    private static final long USB_CLOSE_BOUND_MS = 200 + MARGIN_MS;
    private static final long PARALLEL_CLOSE_BOUND_MS = 2000 + MARGIN_MS;
    private static final String[] PARALLEL = {"LPT1", "LPT2"};

    private final List<String> usbPaths = new ArrayList<>();
    private final JobLedger ledger = new JobLedger();
    private final AtomicLong ops = new AtomicLong();
    private final AtomicLong badResults = new AtomicLong();
    private final AtomicLong closes = new AtomicLong();
    private final AtomicLong longestCloseMs = new AtomicLong();
    private final AtomicLong closesOverBound = new AtomicLong();
    private final AtomicReferenceArray<String> doing = new AtomicReferenceArray<>(WORKERS);

    private static String usbPath(String serial, int unit) {
        return "\\\\?\\usb#vid_1234&pid_5678#" + serial + "#{28d78fad-5a12-11d1-ae5b-" + (100000000000L + unit) + "}";
    }

    private static long durationMs() {
        String seconds = System.getenv("ZELP_STRESS_SECONDS");
        return seconds == null ? 3000 : (long) (Double.parseDouble(seconds) * 1000);
    }

    private <T> T timedClose(long boundMs, java.util.function.Supplier<T> close) {
        long start = System.nanoTime();
        T result = close.get();
        long ms = (System.nanoTime() - start) / 1_000_000;
        closes.incrementAndGet();
        longestCloseMs.accumulateAndGet(ms, Math::max);
        if (ms > boundMs) {
            closesOverBound.incrementAndGet();
        }
        return result;
    }

    private static int slot(Random dice, int worker) {
        int roll = dice.nextInt(100);
        if (roll < 40) {
            return worker;
        }
        if (roll < 75) {
            return dice.nextInt(16);
        }
        if (roll < 97) {
            return dice.nextInt(255);
        }
        return new int[] {-1, 255, 256, Integer.MIN_VALUE, Integer.MAX_VALUE}[dice.nextInt(5)];
    }

    /** A tagged job inside a larger array; the array must come back unchanged. */
    private void write(Random dice, int worker, int seq, boolean usb, int slot) {
        byte[] job = JobLedger.job(worker, seq, dice.nextInt(10) == 0 ? 1000 + dice.nextInt(3000) : dice.nextInt(200));
        int before = dice.nextInt(8);
        byte[] array = new byte[before + job.length + dice.nextInt(8)];
        System.arraycopy(job, 0, array, before, job.length);
        byte[] copy = array.clone();
        boolean ok = usb
                ? UsbDevice.writeData(array, before, job.length, USB_TIMEOUTS[dice.nextInt(USB_TIMEOUTS.length)], slot)
                : ParallelPort.writeData(array, before, job.length);
        if (ok) {
            ledger.succeeded(worker, seq, job.length);
        } else {
            ledger.failed(worker, seq);
        }
        if (!Arrays.equals(array, copy)) {
            badResults.incrementAndGet();
        }
    }

    /** A read returns 0..length and leaves the rest of the array alone. */
    private void read(Random dice, boolean usb, int slot) {
        int length = new int[] {0, 1, 16, 128, 4096}[dice.nextInt(5)];
        byte[] buffer = new byte[length + dice.nextInt(8)];
        Arrays.fill(buffer, (byte) 0x5A);
        int n = usb ? UsbDevice.readData(buffer, length, slot) : ParallelPort.readData(buffer, length);
        boolean untouched = true;
        for (int i = Math.max(n, 0); i < buffer.length; ++i) {
            untouched &= buffer[i] == (byte) 0x5A;
        }
        if (n < 0 || n > length || !untouched) {
            badResults.incrementAndGet();
        }
    }

    private void list(Random dice) {
        int[] first = new int[dice.nextInt(13)];
        int[] second = new int[dice.nextInt(13)];
        Arrays.fill(first, -7);
        Arrays.fill(second, -7);
        int n = UsbDevice.usbDeviceList(first, second, 0, VENDOR, PRODUCT);
        int room = Math.min(10, Math.min(first.length, second.length));
        boolean untouched = true;
        for (int[] array : new int[][] {first, second}) {
            for (int i = Math.max(n, 0); i < array.length; ++i) {
                untouched &= array[i] == -7;
            }
        }
        if (n < 0 || n > room || !untouched) {
            badResults.incrementAndGet();
        }
    }

    private void work(int worker, long seed, long until) {
        Random dice = new Random(seed);
        int seq = 0;
        while (System.nanoTime() < until) {
            int roll = dice.nextInt(100);
            int slot = slot(dice, worker);
            if (roll < 8) {
                doing.set(worker, "openUsbPort");
                String serial = slot == worker && dice.nextInt(5) > 0
                        ? Integer.toString(1 + worker % PRINTERS)
                        : Integer.toString(1 + dice.nextInt(PRINTERS + 3));
                timedClose(USB_CLOSE_BOUND_MS, () -> UsbDevice.openUsbPort(serial, slot, VENDOR, PRODUCT));
            } else if (roll < 13) {
                doing.set(worker, "closeUsbPort");
                timedClose(USB_CLOSE_BOUND_MS, () -> UsbDevice.closeUsbPort(slot));
            } else if (roll < 43) {
                doing.set(worker, "UsbDevice.writeData");
                write(dice, worker, ++seq, true, slot);
            } else if (roll < 49) {
                doing.set(worker, "UsbDevice.readData");
                read(dice, true, slot);
            } else if (roll < 54) {
                doing.set(worker, "detectUsbDevice and flags");
                UsbDevice.detectUsbDevice(slot);
                UsbDevice.setWriteComplete(dice.nextBoolean(), slot);
                UsbDevice.isReadComplete(slot);
            } else if (roll < 56) {
                doing.set(worker, "usbDeviceList");
                list(dice);
            } else if (roll < 59) {
                doing.set(worker, "openParallelPort");
                String name = dice.nextInt(5) == 0 ? "LPT9" : PARALLEL[dice.nextInt(2)];
                timedClose(PARALLEL_CLOSE_BOUND_MS, () -> ParallelPort.openParallelPort(name));
            } else if (roll < 61) {
                doing.set(worker, "closeParallelPort");
                timedClose(PARALLEL_CLOSE_BOUND_MS, ParallelPort::closeParallelPort);
            } else if (roll < 85) {
                doing.set(worker, "ParallelPort.writeData");
                write(dice, worker, ++seq, false, 0);
            } else if (roll < 92) {
                doing.set(worker, "ParallelPort.readData");
                read(dice, false, 0);
            } else {
                doing.set(worker, "detectParallelPort and flags");
                ParallelPort.detectParallelPort();
                ParallelPort.setReadComplete(dice.nextBoolean());
                ParallelPort.isWriteComplete();
            }
            doing.set(worker, null);
            ops.incrementAndGet();
        }
    }

    /** Disturbs one printer; returns whether it was a fault. */
    private boolean disturb(Random dice) {
        boolean parallel = dice.nextInt(5) == 0;
        String name = parallel ? PARALLEL[dice.nextInt(2)] : usbPaths.get(dice.nextInt(usbPaths.size()));
        switch (dice.nextInt(10)) {
            case 0: case 1: case 2: case 3:
                VirtualPrinters.setWriteStalled(name, false);
                VirtualPrinters.plugIn(name);
                VirtualPrinters.holdOpenElsewhere(name, false);
                return false;
            case 4:
                VirtualPrinters.queueReply(name, "ok\r".getBytes(java.nio.charset.StandardCharsets.US_ASCII));
                return false;
            case 5:
                VirtualPrinters.setWriteDelayMillis(name, 1 + dice.nextInt(5));
                return false;
            case 6: case 7:
                VirtualPrinters.setWriteStalled(name, true);
                return true;
            case 8:
                VirtualPrinters.unplug(name);
                return true;
            default:
                VirtualPrinters.holdOpenElsewhere(name, true);
                return true;
        }
    }

    private void heal() {
        List<String> all = new ArrayList<>(usbPaths);
        all.addAll(Arrays.asList(PARALLEL));
        for (String name : all) {
            VirtualPrinters.setWriteStalled(name, false);
            VirtualPrinters.plugIn(name);
            VirtualPrinters.holdOpenElsewhere(name, false);
        }
    }

    @Test
    void sixteenThreadsOnEverySlotAndTheParallelPortLoseNothingAndLeakNothing() throws Exception {
        for (int slot = 0; slot < 255; ++slot) {
            UsbDevice.closeUsbPort(slot);
        }
        ParallelPort.closeParallelPort();
        VirtualPrinters.reset();
        int handlesBefore = VirtualPrinters.openHandleCount();
        for (int i = 1; i <= PRINTERS; ++i) {
            usbPaths.add(usbPath(String.format("%06d", i), i));
        }
        usbPaths.add(usbPath("000000", 900));
        for (String path : usbPaths) {
            assertTrue(VirtualPrinters.addUsbPrinter(path));
        }
        VirtualPrinters.answerIdentity(usbPaths.get(PRINTERS), "7a4711\r");
        for (String name : PARALLEL) {
            assertTrue(VirtualPrinters.addParallelPrinter(name));
        }

        long seed = System.nanoTime();
        long duration = durationMs();
        System.out.println("java stress: " + WORKERS + " threads for " + duration + " ms, seed " + seed);
        long until = System.nanoTime() + duration * 1_000_000;
        ExecutorService pool = Executors.newFixedThreadPool(WORKERS);
        List<Future<?>> workers = new ArrayList<>();
        for (int i = 0; i < WORKERS; ++i) {
            final int worker = i;
            workers.add(pool.submit(() -> work(worker, seed + worker, until)));
        }
        Random dice = new Random(seed ^ 0x5A5A5A5AL);
        long faults = 0;
        while (System.nanoTime() < until) {
            faults += disturb(dice) ? 1 : 0;
            Thread.sleep(5 + dice.nextInt(20));
        }
        heal();
        // Generous: a parallel writer may wait its turn behind several others that each run to
        // the port's write time-out.
        long giveUp = System.nanoTime() + 120_000_000_000L;
        for (int i = 0; i < WORKERS; ++i) {
            try {
                workers.get(i).get(Math.max(1, giveUp - System.nanoTime()), TimeUnit.NANOSECONDS);
            } catch (TimeoutException e) {
                fail("worker " + i + " has hung inside " + doing.get(i));
            }
        }
        pool.shutdown();
        for (int slot = 0; slot < 255; ++slot) {
            final int s = slot;
            timedClose(USB_CLOSE_BOUND_MS, () -> UsbDevice.closeUsbPort(s));
        }
        timedClose(PARALLEL_CLOSE_BOUND_MS, ParallelPort::closeParallelPort);

        List<byte[]> streams = new ArrayList<>();
        for (String path : usbPaths) {
            streams.add(VirtualPrinters.takeReceived(path));
        }
        for (String name : PARALLEL) {
            streams.add(VirtualPrinters.takeReceived(name));
        }
        JobLedger.Verdict verdict = ledger.check(streams);
        int handlesLeft = VirtualPrinters.openHandleCount() - handlesBefore;
        System.out.println("ZELP-FIGURES suite=java-sim ops=" + ops.get() + " faults=" + faults
                + " writes_ok=" + ledger.succeededCount() + " bytes_ok=" + ledger.succeededBytes()
                + " closes=" + closes.get() + " longest_close_ms=" + longestCloseMs.get()
                + " closes_over_bound=" + closesOverBound.get() + " handles_left=" + handlesLeft
                + " lost_bytes=" + verdict.lostBytes + " doubled=" + verdict.doubledJobs
                + " out_of_order=" + verdict.outOfOrder + " bad_results=" + badResults.get());
        VirtualPrinters.reset();

        assertTrue(ledger.succeededCount() > 0, "the run wrote nothing at all");
        assertEquals(0, closesOverBound.get(), "longest close " + longestCloseMs.get() + " ms");
        assertEquals(0, handlesLeft, "handles left open");
        assertEquals(0, verdict.lostJobs, verdict.lostBytes + " bytes reported written never came");
        assertEquals(0, verdict.doubledJobs, "jobs that came twice");
        assertEquals(0, verdict.outOfOrder, "jobs out of their thread's order");
        assertEquals(0, verdict.wholeButFailed, "jobs reported failed that came whole");
        assertEquals(0, verdict.phantoms, "jobs nobody wrote");
        assertEquals(0, badResults.get(), "results or array changes a method may not make");
    }
}
