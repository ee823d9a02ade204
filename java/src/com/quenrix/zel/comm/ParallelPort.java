package com.quenrix.zel.comm;

/**
 * One printer on a parallel port, driven by the native library LibIoZelp.
 *
 * <p>The class speaks to one port at a time. Every method may be called from any thread. Failures
 * are reported only through the results (false or 0); no method throws.
 *
 * <p>Two completion flags belong to the class, not to the port: a successful {@link #writeData}
 * sets the write flag, every {@link #readData} sets the read flag, and the caller may clear or set
 * either at any time. Opening and closing the port leaves them as they are.
 *
 * <p>The native side never looks at the object or class it is called on, so an application may
 * equally declare these methods without {@code static} in its own copy of this class.
 */
public final class ParallelPort {
    static {
        System.loadLibrary("LibIoZelp");
    }

    private ParallelPort() {}

    /**
     * Opens the port with the given device name ("LPT1", "/dev/parport0", a tty path...). A port
     * that is still open is closed first. A null or empty name fails.
     *
     * @return true when the port was opened
     */
    public static native boolean openParallelPort(String portName);

    /**
     * Closes the port after the operations running on it have ended.
     *
     * @return true, always
     */
    public static native boolean closeParallelPort();

    /**
     * Sends {@code data[offset .. offset + length)} to the printer. A null array or a range outside
     * the array sends nothing and fails.
     *
     * @return true when every byte was written; the write-complete flag is then set
     */
    public static native boolean writeData(byte[] data, int offset, int length);

    /** Stores the write-complete flag and returns the value given. */
    public static native boolean setWriteComplete(boolean value);

    /** The write-complete flag at this moment; never waits. */
    public static native boolean isWriteComplete();

    /**
     * Reads what the printer has sent, at most {@code length} bytes, into {@code buffer} from index
     * 0. Waits at most about 10 ms for the first byte. The rest of the array is left alone. Sets the
     * read-complete flag whatever the outcome.
     *
     * @return the number of bytes read; 0 when nothing came or the read failed
     */
    public static native int readData(byte[] buffer, int length);

    /** Stores the read-complete flag and returns the value given. */
    public static native boolean setReadComplete(boolean value);

    /** The read-complete flag at this moment; never waits. */
    public static native boolean isReadComplete();

    /**
     * @return true when the printer on the open port is on line
     */
    public static native boolean detectParallelPort();
}
