package zelp.test.kernel;

import java.io.IOException;
import java.net.UnixDomainSocketAddress;
import java.nio.ByteBuffer;
import java.nio.channels.SocketChannel;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;

/**
 * One USB printer gadget of the kernel suite's machine, as its printer side
 * (tests/kernel/gadget_printer.cpp) lets a test drive it: what it received, what it sends, whether
 * it reads, its port status, and whether it is plugged in. tests/kernel/guest-suite makes four.
 */
final class PrinterGadget {
    static final Path RUN = Path.of(System.getProperty("zelp.kernel.run", "/run/zelp"));

    /** Model 1234:5678 with the serial 123456. */
    static final PrinterGadget NUMBERED = new PrinterGadget("p0", 0);
    /** Model 1234:5678 without a serial string; answers the identity query with 4711. */
    static final PrinterGadget UNNUMBERED = new PrinterGadget("p1", 1);
    /** Model 1234:5678 with the serial AbC-12.x_Z (value 0); answers with 815. */
    static final PrinterGadget LETTERED = new PrinterGadget("p2", 2);
    /** Model 1234:5679, also with the serial 123456. */
    static final PrinterGadget OTHER_MODEL = new PrinterGadget("p3", 3);

    static final PrinterGadget[] ALL = {NUMBERED, UNNUMBERED, LETTERED, OTHER_MODEL};

    /** The status a ready printer reports: selected, no error. */
    static final int READY = 0x18;
    /** Out of paper: paper empty, selected, error. */
    static final int PAPER_OUT = 0x30;

    final String name;
    final int number;
    /** Bytes of an earlier write may still sit in the gadget's queue. */
    private boolean mayHoldData;
    // What this side last told the gadget. The host's node is no guide: the host
    // drops it a moment after an unplug, so a reset right after one may still see it.
    private boolean unplugged;

    private PrinterGadget(String name, int number) {
        this.name = name;
        this.number = number;
    }

    /** The host's node of this printer. */
    Path node() {
        return Path.of("/dev/usb/lp" + number);
    }

    /** The byte at {@code position} of everything this printer sends (since the last reset). */
    static byte pattern(long position) {
        return (byte) (position * 7 + (position >> 8) * 3 + 1);
    }

    /**
     * Back to a ready printer that reads, with nothing received or sent. What a stalled write left
     * in the gadget's queue is taken first, so that it cannot fall into the next test's record.
     */
    void reset() {
        if (unplugged || !Files.exists(node())) {
            plug();
        }
        command("read on");
        command("status " + READY);
        if (mayHoldData) {
            settle();
            mayHoldData = false;
        }
        command("reset");
    }

    private void settle() {
        long before = -1;
        long now = awaitReceived(Long.MAX_VALUE, 0);
        while (now != before) {
            before = now;
            now = awaitReceived(Long.MAX_VALUE, 200);
        }
    }

    void reading(boolean on) {
        mayHoldData |= !on;
        command("read " + (on ? "on" : "off"));
    }

    void status(int value) {
        command("status " + value);
    }

    /** Queues {@code count} bytes of the pattern as one write to the host. */
    void send(int count) {
        command("send " + count);
    }

    void unplug() {
        mayHoldData = true;
        command("unplug");
        unplugged = true;
    }

    void plug() {
        command("plug");
        unplugged = false;
    }

    /** Waits until {@code count} bytes came, at most {@code ms}; returns how many came. */
    long awaitReceived(long count, long ms) {
        String answer = exchange("wait " + count + " " + ms);
        return Long.parseLong(answer.substring(answer.indexOf(' ') + 1).trim());
    }

    /** Waits until what was received since the last reset ends with {@code tail}. */
    boolean awaitEndingWith(byte[] tail, long ms) throws InterruptedException {
        long deadline = System.nanoTime() + ms * 1_000_000;
        do {
            byte[] got = received();
            if (got.length >= tail.length
                    && java.util.Arrays.equals(
                            tail, 0, tail.length, got, got.length - tail.length, got.length)) {
                return true;
            }
            Thread.sleep(20);
        } while (System.nanoTime() < deadline);
        return false;
    }

    /** Everything received since the last reset. */
    byte[] received() {
        try {
            return Files.readAllBytes(RUN.resolve(name + ".rec"));
        } catch (IOException e) {
            throw new IllegalStateException(e);
        }
    }

    private void command(String line) {
        String answer = exchange(line);
        if (!answer.startsWith("ok")) {
            throw new IllegalStateException("printer " + name + ": " + line + ": " + answer);
        }
    }

    private String exchange(String line) {
        UnixDomainSocketAddress address = UnixDomainSocketAddress.of(RUN.resolve(name + ".sock"));
        try (SocketChannel channel = SocketChannel.open(address)) {
            channel.write(ByteBuffer.wrap((line + "\n").getBytes(StandardCharsets.US_ASCII)));
            StringBuilder answer = new StringBuilder();
            ByteBuffer one = ByteBuffer.allocate(1);
            while (channel.read(one) > 0) {
                char c = (char) one.get(0);
                if (c == '\n') {
                    break;
                }
                answer.append(c);
                one.clear();
            }
            return answer.toString();
        } catch (IOException e) {
            throw new IllegalStateException("printer " + name + ": " + line, e);
        }
    }
}
