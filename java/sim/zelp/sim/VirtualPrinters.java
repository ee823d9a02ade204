package zelp.sim;

/**
 * Adds and scripts the virtual printers of the sim copy of the library. Test-only: the shipped
 * library does not serve these methods, and the classes it serves load the sim copy only when
 * {@code java.library.path} points at it.
 *
 * <p>A name is the path a port opens ({@code "LPT1"}, {@code "\\\\.\\LPT2"}) or the device path of
 * a USB printer interface. Methods given a name that no virtual printer has do nothing.
 */
public final class VirtualPrinters {
    static {
        System.loadLibrary("LibIoZelp");
    }

    private VirtualPrinters() {}

    /** Removes every virtual printer and forgets what happened so far. */
    public static native void reset();

    /** A parallel port that {@code openParallelPort(name)} opens, with its printer on line. */
    public static native boolean addParallelPrinter(String name);

    /** A present USB printer interface with this device path. */
    public static native boolean addUsbPrinter(String devicePath);

    /** Pulls the printer out: pending and later transfers fail, and it is no longer found. */
    public static native void unplug(String name);

    /** Plugs the printer back in, as a fresh device. */
    public static native void plugIn(String name);

    /** Another program holds the printer open, so opening it fails. */
    public static native void holdOpenElsewhere(String name, boolean held);

    /** Bytes the printer sends; each queued reply is delivered by one read. */
    public static native void queueReply(String name, byte[] bytes);

    /** The reply sent after each identity command, for example {@code "7a4711\r"}. */
    public static native void answerIdentity(String name, String reply);

    /** The bytes written to the printer since the last call. */
    public static native byte[] takeReceived(String name);

    /** The status byte (PARALLEL_* bits) the status query reports. */
    public static native void setParallelStatus(String name, int status);

    /** Each later write completes this many milliseconds after it starts (0: at once). */
    public static native void setWriteDelayMillis(String name, int ms);

    /** Writes take nothing until un-stalled or cancelled (or the port's time-out ends them). */
    public static native void setWriteStalled(String name, boolean stalled);

    /** Device, event and mutex handles the library has open, for leak checks. */
    public static native int openHandleCount();
}
