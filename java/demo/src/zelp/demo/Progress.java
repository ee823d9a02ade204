package zelp.demo;

/** A progress line: redrawn in place on a terminal, one line a step in a log. */
final class Progress {
    private static final int WIDTH = 30;

    private Progress() {}

    static void show(String what, int sent, int total) {
        String line = line(what, sent, total);
        if (System.console() != null) {
            System.out.print("\r" + line);
            if (sent >= total) {
                System.out.println();
            }
        } else {
            System.out.println(line);
        }
    }

    static String line(String what, int sent, int total) {
        int filled = (int) ((long) sent * WIDTH / total);
        return String.format("%s [%s%s] %5d / %d bytes (%3d%%)", what, "#".repeat(filled),
                ".".repeat(WIDTH - filled), sent, total, sent * 100L / total);
    }
}
