package zelp.bench;

/**
 * The JNI figures, each measured side by side with its baseline in this one JVM. {@code shipped}
 * runs those that need the shipped library (loaded from {@code java.library.path}); {@code sim}
 * those that need the virtual printers of the sim copy. Each figure prints one line, {@code figure
 * NAME RATIO detail...}, which scripts/bench checks against the figure's target.
 */
public final class JniBench {
    private JniBench() {}

    public static void main(String[] args) throws Exception {
        String which = args.length > 0 ? args[0] : "";
        switch (which) {
            case "shipped":
                runShipped(args.length > 1 ? args[1] : "");
                break;
            case "sim":
                SimFigures.readSlice();
                break;
            default:
                System.err.println("usage: JniBench shipped [only-figure] | sim");
                System.exit(2);
        }
    }

    private static void runShipped(String only) throws Exception {
        if (only.isEmpty() || only.equals("flag_poll")) {
            ShippedFigures.flagPoll();
        }
        if (only.isEmpty() || only.startsWith("write_")) {
            ShippedFigures.writeThroughput("write_64k", 64 * 1024, 256L << 20);
            ShippedFigures.writeThroughput("write_4k", 4 * 1024, 64L << 20);
            ShippedFigures.writeSlice();
        }
        if (only.isEmpty() || only.equals("peer_rxtx")) {
            PeerFigure.peerRxtx();
        }
    }

    /** Keeps results alive so that no loop can be optimised away. */
    static volatile long sink;
}
