package zelp.bench;

import java.util.Arrays;

/**
 * Side-by-side measurement: trials of our path and of the baseline alternate within one JVM, the
 * order flipping from pair to pair so that a drift of the machine falls on both alike. The figure
 * is the median of the per-pair ratios.
 */
final class Paired {
    /** One timed trial; returns its measure (a throughput, or a time per call). */
    interface Trial {
        double run() throws Exception;
    }

    final double[] ours;
    final double[] baseline;
    final double[] ratios;

    private Paired(double[] ours, double[] baseline) {
        this.ours = ours;
        this.baseline = baseline;
        this.ratios = new double[ours.length];
        for (int i = 0; i < ours.length; ++i) {
            ratios[i] = ours[i] / baseline[i];
        }
    }

    static Paired measure(int warmUps, int pairs, Trial ours, Trial baseline) throws Exception {
        for (int i = 0; i < warmUps; ++i) {
            ours.run();
            baseline.run();
        }
        double[] a = new double[pairs];
        double[] b = new double[pairs];
        for (int i = 0; i < pairs; ++i) {
            if (i % 2 == 0) {
                a[i] = ours.run();
                b[i] = baseline.run();
            } else {
                b[i] = baseline.run();
                a[i] = ours.run();
            }
        }
        return new Paired(a, b);
    }

    static double median(double[] values) {
        double[] sorted = values.clone();
        Arrays.sort(sorted);
        int mid = sorted.length / 2;
        return sorted.length % 2 == 1 ? sorted[mid] : (sorted[mid - 1] + sorted[mid]) / 2;
    }

    /** The spread of the values: (max - min) / median. */
    static double spread(double[] values) {
        double min = Arrays.stream(values).min().orElse(0);
        double max = Arrays.stream(values).max().orElse(0);
        double mid = median(values);
        return mid == 0 ? 0 : (max - min) / mid;
    }

    /** Prints the figure line that scripts/bench reads, then the detail behind it. */
    void report(String name, String unit) {
        System.out.printf(
                "figure %s %.4f ours=%.4g%s baseline=%.4g%s pairs=%d spread=%.1f%%/%.1f%%%n",
                name,
                median(ratios),
                median(ours),
                unit,
                median(baseline),
                unit,
                ratios.length,
                100 * spread(ours),
                100 * spread(baseline));
    }
}
