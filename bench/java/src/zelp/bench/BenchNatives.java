package zelp.bench;

/** The bench-only JNI library, named by the system property {@code zelp.benchlib}. */
final class BenchNatives {
    static {
        String library = System.getProperty("zelp.benchlib");
        if (library == null) {
            throw new IllegalStateException("set -Dzelp.benchlib to libZelpBench.so");
        }
        System.load(library);
    }

    private BenchNatives() {}

    /** Loads the library (by initialising this class) for the other classes it serves. */
    static void ensureLoaded() {}

    /** Does nothing: the same shape as the flag poll, so only the JVM's own call cost is left. */
    static native boolean emptyFlag();
}
