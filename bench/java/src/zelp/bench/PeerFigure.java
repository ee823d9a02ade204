package zelp.bench;

import com.quenrix.zel.comm.ParallelPort;
import java.io.OutputStream;

/**
 * The same job to a pty through writeData and through the serial output stream of the Java
 * serial library users compare us with. Each side has its own pty of the same kind, drained by the
 * same reader; a trial ends when the reader has the whole job.
 */
final class PeerFigure {
    private static final int JOB = 8 << 20;
    private static final int CHUNK = 64 << 10;
    private static final long LIMIT_NANOS = 30_000_000_000L;

    private PeerFigure() {}

    static void peerRxtx() throws Exception {
        byte[] job = ShippedFigures.pattern(JOB);
        try (BenchPty ours = BenchPty.open();
                BenchPty theirs = BenchPty.open()) {
            if (!ParallelPort.openParallelPort(ours.path())) {
                throw new IllegalStateException("the port could not be opened on " + ours.path());
            }
            try (PeerPort peer = PeerPort.open(theirs.path())) {
                OutputStream out = peer.outputStream();
                Paired.measure(5, 31, () -> portJob(ours, job), () -> streamJob(theirs, out, job))
                        .report("peer_rxtx", "MB/s");
            } finally {
                ParallelPort.closeParallelPort();
            }
        }
    }

    private static double portJob(BenchPty pty, byte[] job) {
        long target = pty.drained() + job.length;
        long start = System.nanoTime();
        for (int offset = 0; offset < job.length; offset += CHUNK) {
            if (!ParallelPort.writeData(job, offset, CHUNK)) {
                throw new IllegalStateException("a write to the pty failed");
            }
        }
        return finish(pty, target, start);
    }

    private static double streamJob(BenchPty pty, OutputStream out, byte[] job) throws Exception {
        long target = pty.drained() + job.length;
        long start = System.nanoTime();
        for (int offset = 0; offset < job.length; offset += CHUNK) {
            out.write(job, offset, CHUNK);
        }
        return finish(pty, target, start);
    }

    private static double finish(BenchPty pty, long target, long start) {
        if (!pty.awaitDrained(target, LIMIT_NANOS)) {
            throw new IllegalStateException("the reader did not get the whole job");
        }
        return ShippedFigures.megabytesPerSecond(JOB, System.nanoTime() - start);
    }
}
