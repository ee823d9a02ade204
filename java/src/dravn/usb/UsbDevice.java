package dravn.usb;

/**
 * Up to 255 USB printer-class printers, driven by the native library LibIoZelp.
 *
 * <p>Printers live in numbered slots, 0 to 254, which the caller chooses and passes to every
 * method. A slot outside that range is treated as an empty slot: nothing is stored for it. Every
 * method may be called from any thread; different slots never wait for each other. Failures are
 * reported only through the results (false or 0); no method throws.
 *
 * <p>Each slot has two completion flags: a successful {@link #writeData} sets its write flag,
 * every {@link #readData} sets its read flag, and the caller may clear or set either at any time.
 * Opening and closing a slot leaves them as they are.
 *
 * <p>Vendor and product ids are decimal numbers written as text ("4660" for 0x1234). Serial
 * numbers are compared by their numeric value; a printer without a numeric serial number has the
 * value 0.
 *
 * <p>The native side never looks at the object or class it is called on, so an application may
 * equally declare these methods without {@code static} in its own copy of this class.
 */
public final class UsbDevice {
    static {
        System.loadLibrary("LibIoZelp");
    }

    private UsbDevice() {}

    /**
     * Opens, in the slot, the present printer of the model whose serial number has the value of
     * {@code serialText}. When there is none (or it cannot be opened: it is held open elsewhere),
     * a printer of the model without a numeric serial number is opened instead. A printer already
     * open in the slot is closed first.
     *
     * @return true when a printer was opened in the slot
     */
    public static native boolean openUsbPort(
            String serialText, int slot, String vendorIdText, String productIdText);

    /**
     * Closes the slot's printer once the transfers running on it have ended (a write with
     * time-out -1 is waited for as long as it takes).
     *
     * @return true, always
     */
    public static native boolean closeUsbPort(int slot);

    /**
     * Sends {@code data[offset .. offset + length)} to the slot's printer, waiting at most {@code
     * timeoutMs} milliseconds (-1: no limit). A null array, a range outside the array, or a slot
     * without a printer sends nothing and fails. A write that fails may have sent part of the data.
     *
     * @return true when every byte went out in time; the slot's write-complete flag is then set
     */
    public static native boolean writeData(
            byte[] data, int offset, int length, int timeoutMs, int slot);

    /** Stores the slot's write-complete flag and returns the value given. */
    public static native boolean setWriteComplete(boolean value, int slot);

    /** The slot's write-complete flag at this moment; never waits. */
    public static native boolean isWriteComplete(int slot);

    /**
     * Reads what the slot's printer has sent, at most {@code length} bytes, into {@code data} from
     * index 0, waiting at most 100 ms. The rest of the array is left alone. Sets the slot's
     * read-complete flag whatever the outcome.
     *
     * @return the number of bytes read; 0 after a time-out, a failure or with no printer
     */
    public static native int readData(byte[] data, int length, int slot);

    /** Stores the slot's read-complete flag and returns the value given. */
    public static native boolean setReadComplete(boolean value, int slot);

    /** The slot's read-complete flag at this moment; never waits. */
    public static native boolean isReadComplete(int slot);

    /**
     * Whether the printer the slot last opened (same model, same serial value) is present now;
     * also after the slot was closed. A slot never opened has no printer.
     */
    public static native boolean detectUsbDevice(int slot);

    /**
     * Lists the present printers of a model, at most ten and at most as many as the shorter
     * array holds. For each printer k: {@code first[k]} is its serial number; {@code second[k]}
     * is the same number, or 0 when the number came from asking a printer without a numeric
     * serial number for its identity (which may take up to about 12 s per such printer). Printers
     * that do not answer are not listed. Entries after the last one are left alone. The slot is
     * not used.
     *
     * @return the number of printers listed
     */
    public static native int usbDeviceList(
            int[] first, int[] second, int slot, String vendorIdText, String productIdText);
}
