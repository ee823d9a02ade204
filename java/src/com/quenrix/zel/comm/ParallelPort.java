package com.quenrix.zel.comm;

/**
 * One printer on a parallel port, driven by the native library LibIoZelp.
 *
 * <p>The class speaks to one port at a time. Every method may be called from any thread, several
 * at once. Failures are reported only through the results ({@code false} or {@code 0}); no method
 * throws, whatever its arguments.
 *
 * <p>Two completion flags belong to the class, not to the port: a successful {@link #writeData}
 * sets the write flag, every {@link #readData} sets the read flag, and the caller may clear or set
 * either at any time. Opening and closing the port leaves them as they are. Both are clear when
 * the library has just been loaded.
 *
 * <p>Time-outs are fixed: a write may take at most 2000 ms, a read waits at most about 10 ms.
 *
 * <p>The methods are declared {@code static native}. The native side never looks at the object or
 * class it is called on, so an application that brings its own copy of this class (with the same
 * name and methods, static or not) needs only the native library, loaded in its own way.
 *
 * <p>Loading: the first use of the class loads the library: the file named by the system property
 * {@code zelp.library.path} if set, else {@code System.loadLibrary("LibIoZelp")} (a library on
 * {@code java.library.path} wins), else the copy in this jar for the running system, extracted
 * once into the user's cache folder. When all fail, the class cannot be used, and the {@link
 * UnsatisfiedLinkError} lists each way tried and why it failed.
 */
public final class ParallelPort {
    static {
        zelp.internal.NativeLoader.load();
    }

    private ParallelPort() {}

    /**
     * Opens the port with the given device name: on Windows "LPT1" or "\\.\LPT1"; on Linux
     * "LPT1" ({@code /dev/parport0}), "LPT2" ({@code /dev/parport1})... or any device path
     * ({@code /dev/parport0}, {@code /dev/lp0}, a tty). The port is opened for this program alone.
     * A port that is still open is closed first (after the operations running on it have ended).
     *
     * @param portName the device name; null or empty fails
     * @return true when the port was opened; false when the name names no device, the device is
     *     in use by another program or the user may not open it
     */
    public static native boolean openParallelPort(String portName);

    /**
     * Closes the port. Waits until the operations running on it in other threads (a write may take
     * up to its 2000 ms) have ended; when it returns, the port can be opened again. Without an
     * open port it does nothing.
     *
     * @return true, always
     */
    public static native boolean closeParallelPort();

    /**
     * Sends {@code data[offset .. offset + length)} to the printer and waits until it has been
     * written, at most 2000 ms. A write that ends short (the printer stopped taking data, paper
     * out, the time-out) returns false; the printer may then have received part of the data.
     *
     * @param data the bytes; null sends nothing and returns false
     * @param offset index of the first byte; outside the array: nothing sent, false
     * @param length how many bytes; negative, or beyond the end of the array: nothing sent, false
     * @return true when every byte was written; the write-complete flag is then set. False without
     *     an open port, for a bad range, or when the write failed or ended short; the flag is then
     *     left as it was.
     */
    public static native boolean writeData(byte[] data, int offset, int length);

    /**
     * Stores the write-complete flag, for example false before a write whose end another thread
     * waits for with {@link #isWriteComplete}.
     *
     * @param value the new value of the flag
     * @return the value given
     */
    public static native boolean setWriteComplete(boolean value);

    /**
     * The write-complete flag at this moment; never waits, also while a write runs.
     *
     * @return true when a write succeeded since the flag was last cleared
     */
    public static native boolean isWriteComplete();

    /**
     * Reads what the printer has sent back (IEEE 1284 reverse channel), at most {@code length}
     * bytes (and at most 65536 per call), into {@code buffer} from index 0. Waits at most about
     * 10 ms. The rest of the array is left alone. Sets the read-complete flag whatever the outcome.
     *
     * @param buffer where the bytes go; null reads nothing and returns 0
     * @param length the most bytes to read; negative or beyond the end of the array: nothing is
     *     read, 0
     * @return the number of bytes read, counting those a read delivered before it ended with an
     *     error; 0 when nothing came, the read failed at once, no port is open or the arguments
     *     were bad
     */
    public static native int readData(byte[] buffer, int length);

    /**
     * Stores the read-complete flag.
     *
     * @param value the new value of the flag
     * @return the value given
     */
    public static native boolean setReadComplete(boolean value);

    /**
     * The read-complete flag at this moment; never waits, also while a read runs.
     *
     * @return true when a read ended since the flag was last cleared
     */
    public static native boolean isReadComplete();

    /**
     * Asks the port for the printer's status.
     *
     * @return true when the printer on the open port is on line (neither off line nor powered
     *     off); false when it is not, when the status cannot be had, or when no port is open
     */
    public static native boolean detectParallelPort();
}
