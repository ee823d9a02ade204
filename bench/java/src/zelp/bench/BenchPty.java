package zelp.bench;

/**
 * A pseudo-terminal standing in for a printer: a port under test writes to the slave path, and a
 * native thread on the master side reads and counts everything it gets.
 */
final class BenchPty implements AutoCloseable {
    static {
        // The bench library serves this class too.
        BenchNatives.ensureLoaded();
    }

    private final int master;
    private final int heldSlave;
    private final long drain;
    private final String path;

    private BenchPty(int master, int heldSlave, long drain, String path) {
        this.master = master;
        this.heldSlave = heldSlave;
        this.drain = drain;
        this.path = path;
    }

    static BenchPty open() {
        int master = openMaster();
        String path = master < 0 ? null : slavePath(master);
        int slave = path == null ? -1 : holdSlave(path);
        if (slave < 0) {
            close(master);
            throw new IllegalStateException("no pseudo-terminal could be opened");
        }
        return new BenchPty(master, slave, startDrain(master), path);
    }

    String path() {
        return path;
    }

    /** Bytes the reader has taken from the port so far. */
    long drained() {
        return drained(drain);
    }

    /** Waits until the reader has taken {@code total} bytes in all; false after the limit. */
    boolean awaitDrained(long total, long limitNanos) {
        long giveUp = System.nanoTime() + limitNanos;
        while (drained() < total) {
            if (System.nanoTime() > giveUp) {
                return false;
            }
            // A short park, not a spin: the reader needs the other core.
            java.util.concurrent.locks.LockSupport.parkNanos(20_000);
        }
        return true;
    }

    @Override
    public void close() {
        stopDrain(drain);
        close(heldSlave);
        close(master);
    }

    private static native int openMaster();

    private static native String slavePath(int master);

    private static native int holdSlave(String path);

    private static native long startDrain(int master);

    private static native long drained(long drain);

    private static native void stopDrain(long drain);

    private static native void close(int fd);
}
