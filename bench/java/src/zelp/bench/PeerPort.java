package zelp.bench;

import java.io.OutputStream;

/**
 * A serial port of the Java serial library users compare us with, opened on a pty.
 *
 * <p>Reflection keeps the harness free of a build dependency on that library; the timed path is a
 * plain OutputStream all the same. The library only takes a pty for a port when the property
 * gnu.io.rxtx.SerialPorts names it, and reads the property when its driver starts, so the first
 * port opened in a JVM decides.
 */
final class PeerPort implements AutoCloseable {
    private final Object port;

    private PeerPort(Object port) {
        this.port = port;
    }

    static PeerPort open(String path) throws Exception {
        System.setProperty("gnu.io.rxtx.SerialPorts", path);
        Class<?> identifiers = Class.forName("gnu.io.CommPortIdentifier");
        Object id = identifiers.getMethod("getPortIdentifier", String.class).invoke(null, path);
        Object port =
                identifiers.getMethod("open", String.class, int.class).invoke(id, "zelp-bench", 2000);
        return new PeerPort(port);
    }

    OutputStream outputStream() throws Exception {
        return (OutputStream) port.getClass().getMethod("getOutputStream").invoke(port);
    }

    /** Closes the port. Its flush() is never called: on a pty it brings the JVM down. */
    @Override
    public void close() throws ReflectiveOperationException {
        port.getClass().getMethod("close").invoke(port);
    }
}
