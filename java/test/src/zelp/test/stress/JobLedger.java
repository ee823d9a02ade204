package zelp.test.stress;

import java.nio.charset.StandardCharsets;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.concurrent.ConcurrentHashMap;

/**
 * Tagged print jobs and the check of what the printers received. A job is
 * {@code <tt:ssssssss:lllll:body>}: its thread, its number, its body length, and a body derived
 * from the first two, so a printer's stream can be taken apart again. Pieces of writes that failed
 * part-way are passed over; every job reported written must be there exactly once, whole, and in
 * its thread's order on that printer.
 */
final class JobLedger {
    private static final String BODY_CHARS = "abcdefghijklmnopqrstuvwxyz0123456789";
    private static final int HEADER = 1 + 2 + 1 + 8 + 1 + 5 + 1;

    /** What the check found. */
    static final class Verdict {
        long lostJobs;
        long lostBytes;
        long doubledJobs;
        long outOfOrder;
        long wholeButFailed;
        long phantoms;
    }

    private final Map<Long, Integer> succeeded = new ConcurrentHashMap<>();
    private final Map<Long, Boolean> failed = new ConcurrentHashMap<>();

    private static long key(int thread, int seq) {
        return ((long) thread << 32) | (seq & 0xFFFFFFFFL);
    }

    private static char bodyChar(int thread, int seq, int i) {
        long mix = thread * 131L + (seq & 0xFFFFFFFFL) * 31L + i * 7L;
        return BODY_CHARS.charAt((int) (mix % BODY_CHARS.length()));
    }

    static byte[] job(int thread, int seq, int bodyLength) {
        StringBuilder text = new StringBuilder(String.format("<%02x:%08d:%05d:", thread, seq, bodyLength));
        for (int i = 0; i < bodyLength; ++i) {
            text.append(bodyChar(thread, seq, i));
        }
        return text.append('>').toString().getBytes(StandardCharsets.US_ASCII);
    }

    void succeeded(int thread, int seq, int bytes) {
        succeeded.put(key(thread, seq), bytes);
    }

    void failed(int thread, int seq) {
        failed.put(key(thread, seq), Boolean.TRUE);
    }

    int succeededCount() {
        return succeeded.size();
    }

    long succeededBytes() {
        return succeeded.values().stream().mapToLong(Integer::longValue).sum();
    }

    /** Checks the streams every printer received, once every port is closed. */
    Verdict check(List<byte[]> streams) {
        Verdict verdict = new Verdict();
        Map<Long, Integer> arrivals = new HashMap<>();
        for (byte[] bytes : streams) {
            String stream = new String(bytes, StandardCharsets.ISO_8859_1);
            Map<Integer, Integer> lastSeq = new HashMap<>();
            int at = stream.indexOf('<');
            while (at >= 0) {
                long[] frame = parseFrame(stream, at);
                if (frame == null) {
                    at = stream.indexOf('<', at + 1);
                    continue;
                }
                int thread = (int) frame[0];
                int seq = (int) frame[1];
                arrivals.merge(key(thread, seq), 1, Integer::sum);
                if (succeeded.containsKey(key(thread, seq))) {
                    Integer last = lastSeq.put(thread, seq);
                    if (last != null && seq <= last) {
                        ++verdict.outOfOrder;
                    }
                }
                at = stream.indexOf('<', (int) frame[2]);
            }
        }
        for (Map.Entry<Long, Integer> job : succeeded.entrySet()) {
            int count = arrivals.getOrDefault(job.getKey(), 0);
            if (count == 0) {
                ++verdict.lostJobs;
                verdict.lostBytes += job.getValue();
            } else if (count > 1) {
                ++verdict.doubledJobs;
            }
        }
        for (Long tag : arrivals.keySet()) {
            if (!succeeded.containsKey(tag)) {
                if (failed.containsKey(tag)) {
                    ++verdict.wholeButFailed;
                } else {
                    ++verdict.phantoms;
                }
            }
        }
        return verdict;
    }

    /** {thread, seq, end} of the whole job at {@code at}, or null when it is cut short. */
    private static long[] parseFrame(String stream, int at) {
        if (stream.length() - at < HEADER) {
            return null;
        }
        String header = stream.substring(at, at + HEADER);
        if (header.charAt(3) != ':' || header.charAt(12) != ':' || header.charAt(18) != ':') {
            return null;
        }
        try {
            int thread = Integer.parseInt(header.substring(1, 3), 16);
            int seq = Integer.parseInt(header.substring(4, 12));
            int length = Integer.parseInt(header.substring(13, 18));
            int body = at + HEADER;
            if (stream.length() - body < length + 1 || stream.charAt(body + length) != '>') {
                return null;
            }
            for (int i = 0; i < length; ++i) {
                if (stream.charAt(body + i) != bodyChar(thread, seq, i)) {
                    return null;
                }
            }
            return new long[] {thread, seq, body + length + 1};
        } catch (NumberFormatException e) {
            return null;
        }
    }
}
