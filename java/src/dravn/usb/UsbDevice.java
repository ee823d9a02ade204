package dravn.usb;

/**
 * Up to 255 USB printer-class printers, driven by the native library LibIoZelp.
 *
 * <p>Printers live in numbered slots, 0 to 254, which the caller chooses and passes to every
 * method. A slot outside that range is treated as an empty slot and nothing is stored for it.
 * Every method may be called from any thread, several at once; different slots never wait for each
 * other, while a write and a read on one slot take turns. Failures are reported only through the
 * results ({@code false} or {@code 0}); no method throws, whatever its arguments.
 *
 * <p>Each slot has two completion flags: a successful {@link #writeData} sets its write flag,
 * every {@link #readData} sets its read flag, and the caller may clear or set either at any time.
 * Opening and closing a slot leaves them as they are. All are clear when the library has just been
 * loaded.
 *
 * <p>Vendor and product ids are decimal numbers written as text ("4660" for 0x1234); a text that
 * is not a number counts as 0. Serial numbers are compared by their numeric value, read as {@code
 * atol} reads it from at most the first 20 characters ("12" finds the serial 000012); a printer
 * without a numeric serial number has the value 0.
 *
 * <p>Time-outs: a write waits as long as the caller says; a read waits at most 100 ms; a list may
 * take up to about 12 s for each printer that has to be asked for its number.
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
public final class UsbDevice {
    static {
        zelp.internal.NativeLoader.load();
    }

    private UsbDevice() {}

    /**
     * Opens, in the slot, the present printer of the model whose serial number has the value of
     * {@code serialText}. When there is none, or it cannot be opened (another program or slot holds
     * it), and the value is not 0, a printer of the model without a numeric serial number is opened
     * instead; the slot then records the serial "000000". A printer already open in the slot is
     * closed first. The printer is opened for this slot alone.
     *
     * @param serialText the serial number sought; null or empty count as 0
     * @param slot 0 to 254; any other value fails
     * @param vendorIdText the vendor id as a decimal text
     * @param productIdText the product id as a decimal text
     * @return true when a printer was opened in the slot; false when none of the model was found
     *     or it could not be opened (in use elsewhere, or the user may not open it)
     */
    public static native boolean openUsbPort(
            String serialText, int slot, String vendorIdText, String productIdText);

    /**
     * Closes the slot's printer. Waits until the transfers running on it in other threads have
     * ended: a write for up to its own time-out, a write with time-out -1 for as long as it takes.
     * When it returns, the printer can be opened again. An empty slot, or one outside 0 to 254, is
     * left as it is.
     *
     * @param slot the slot
     * @return true, always
     */
    public static native boolean closeUsbPort(int slot);

    /**
     * Sends {@code data[offset .. offset + length)} to the slot's printer and waits until every
     * byte has gone out, at most {@code timeoutMs} milliseconds. A write that runs out of time is
     * cancelled. A write that returns false may have sent part of the data: the printer may have
     * printed the beginning of the job.
     *
     * @param data the bytes; null sends nothing and returns false
     * @param offset index of the first byte; outside the array: nothing sent, false
     * @param length how many bytes; negative, or beyond the end of the array: nothing sent, false
     * @param timeoutMs the most milliseconds to wait; -1 waits without limit (other negative values
     *     are read as unsigned, about 49 days); 0 succeeds only if the printer takes the data at once
     * @param slot 0 to 254
     * @return true when every byte went out in time; the slot's write-complete flag is then set.
     *     False for an empty slot, a slot outside 0 to 254, a bad range, a time-out or a failed
     *     transfer; the flag is then left as it was.
     */
    public static native boolean writeData(
            byte[] data, int offset, int length, int timeoutMs, int slot);

    /**
     * Stores the slot's write-complete flag. A slot outside 0 to 254 stores nothing.
     *
     * @param value the new value of the flag
     * @param slot the slot
     * @return the value given
     */
    public static native boolean setWriteComplete(boolean value, int slot);

    /**
     * The slot's write-complete flag at this moment; never waits, also while a write runs.
     *
     * @param slot the slot; outside 0 to 254 gives false
     * @return true when a write on the slot succeeded since the flag was last cleared
     */
    public static native boolean isWriteComplete(int slot);

    /**
     * Reads what the slot's printer has sent, at most {@code length} bytes (and at most 65536 per
     * call), into {@code data} from index 0, waiting at most 100 ms. The rest of the array is left
     * alone. Sets the slot's read-complete flag whatever the outcome (not for a slot outside 0 to
     * 254).
     *
     * @param data where the bytes go; null reads nothing and returns 0
     * @param length the most bytes to read; negative or beyond the end of the array: nothing is
     *     read, 0
     * @param slot 0 to 254
     * @return the number of bytes read, counting those a read delivered before it ended with an
     *     error (a printer pulled out mid-answer); 0 after a time-out, a failure, with no printer
     *     open in the slot, or for bad arguments
     */
    public static native int readData(byte[] data, int length, int slot);

    /**
     * Stores the slot's read-complete flag. A slot outside 0 to 254 stores nothing.
     *
     * @param value the new value of the flag
     * @param slot the slot
     * @return the value given
     */
    public static native boolean setReadComplete(boolean value, int slot);

    /**
     * The slot's read-complete flag at this moment; never waits, also while a read runs.
     *
     * @param slot the slot; outside 0 to 254 gives false
     * @return true when a read on the slot ended since the flag was last cleared
     */
    public static native boolean isReadComplete(int slot);

    /**
     * Whether the printer the slot last opened (the model of the slot's latest open, and the serial
     * value of its latest successful one) is present now; also after the slot was closed. Does not
     * touch the printer.
     *
     * @param slot the slot
     * @return true when such a printer is plugged in; false for a slot never opened or outside 0
     *     to 254
     */
    public static native boolean detectUsbDevice(int slot);

    /**
     * Lists the present printers of a model, at most ten and at most as many as the shorter
     * array holds. For each printer k, in the order the system reports them: {@code first[k]} is
     * its serial number; {@code second[k]} is the same number, or 0 when the number came from
     * asking a printer without a numeric serial number for its identity (which may take up to
     * about 12 s per such printer). Such a printer that does not answer, or is open elsewhere, is
     * not listed. Entries after the last one are left alone. Open slots are not disturbed.
     *
     * @param first receives the serial numbers; null gives 0
     * @param second receives the USB serial numbers (0 for asked printers); null gives 0
     * @param slot not used
     * @param vendorIdText the vendor id as a decimal text
     * @param productIdText the product id as a decimal text
     * @return the number of printers listed, 0 to 10
     */
    public static native int usbDeviceList(
            int[] first, int[] second, int slot, String vendorIdText, String productIdText);
}
