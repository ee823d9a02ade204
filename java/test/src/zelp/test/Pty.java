package zelp.test;

import java.io.ByteArrayOutputStream;

/**
 * A pseudo-terminal whose slave path stands in for a printer port, with the test playing the
 * printer on the master side. The native part is a test-only library named by the system property
 * {@code zelp.testpty}.
 */
public final class Pty implements AutoCloseable {
    static {
        String library = System.getProperty("zelp.testpty");
        if (library == null) {
            throw new IllegalStateException("set -Dzelp.testpty to the pty helper library");
        }
        System.load(library);
    }

    private int master;
    private int slave;
    private final String path;

    private Pty(int master, int slave, String path) {
        this.master = master;
        this.slave = slave;
        this.path = path;
    }

    public static Pty open() {
        int master = openMaster();
        if (master < 0) {
            throw new IllegalStateException("no pseudo-terminal could be opened");
        }
        String path = slavePath(master);
        int slave = path == null ? -1 : openSlave(path);
        if (slave < 0) {
            close(master);
            throw new IllegalStateException("the pseudo-terminal's slave could not be opened");
        }
        return new Pty(master, slave, path);
    }

    /** The device path the port under test opens. */
    public String path() {
        return path;
    }

    /** What the port sent, up to buffer.length bytes; 0 when nothing came within the time. */
    public int read(byte[] buffer, int timeoutMs) {
        return read(master, buffer, timeoutMs);
    }

    /**
     * Collects exactly {@code count} bytes, or what came before {@code timeoutMs} ran out (the
     * caller compares). The limit is generous: it only ends a test that would otherwise hang.
     */
    public byte[] receive(int count, int timeoutMs) {
        ByteArrayOutputStream got = new ByteArrayOutputStream();
        long deadline = System.nanoTime() + timeoutMs * 1_000_000L;
        while (got.size() < count && System.nanoTime() < deadline) {
            byte[] chunk = new byte[Math.min(4096, count - got.size())];
            int n = read(master, chunk, 50);
            if (n < 0) {
                break;
            }
            got.write(chunk, 0, n);
        }
        return got.toByteArray();
    }

    /** Sends bytes to the port. */
    public void write(byte[] data) {
        if (!write(master, data)) {
            throw new IllegalStateException("the pseudo-terminal refused the bytes");
        }
    }

    /** Takes the printer away: the port sees the line hang up. */
    public void hangUp() {
        close(master);
        close(slave);
        master = -1;
        slave = -1;
    }

    @Override
    public void close() {
        hangUp();
    }

    private static native int openMaster();

    private static native String slavePath(int master);

    private static native int openSlave(String path);

    private static native int read(int fd, byte[] buffer, int timeoutMs);

    private static native boolean write(int fd, byte[] data);

    private static native void close(int fd);
}
