package zelp.build;

import java.io.IOException;
import java.io.OutputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardCopyOption;
import java.time.LocalDateTime;
import java.time.ZoneOffset;
import java.util.ArrayList;
import java.util.Enumeration;
import java.util.HashSet;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.TreeMap;
import java.util.stream.Stream;
import java.util.zip.ZipEntry;
import java.util.zip.ZipFile;
import java.util.zip.ZipOutputStream;

/**
 * Writes a jar whose bytes depend only on what goes in: the manifest first, then every entry in
 * name order, each folder entry before what it holds, and every entry dated SOURCE_DATE_EPOCH
 * (the time of the commit, when the build names one). The build's jar tool dates entries by the
 * clock and orders them as the file system lists them, so two builds would differ.
 *
 * <pre>
 *   java -cp ... zelp.build.ReproducibleJar OUTPUT --manifest FILE
 *        [--zip JAR]... [--file NAME=PATH]... [--tree PREFIX=FOLDER]...
 * </pre>
 *
 * {@code --zip} takes every file entry of a jar but its manifest, {@code --tree} every file under a
 * folder, named relative to it after PREFIX (which may be empty).
 */
public final class ReproducibleJar {
    private static final String MANIFEST = "META-INF/MANIFEST.MF";
    // Inside the DOS date range a zip entry holds, and later than any tool's idea of "no date".
    private static final LocalDateTime EARLIEST = LocalDateTime.of(1980, 2, 1, 0, 0);

    private final Map<String, byte[]> entries = new TreeMap<>();
    private byte[] manifest;

    public static void main(String[] args) throws IOException {
        if (args.length < 3 || args.length % 2 == 0) {
            fail("usage: ReproducibleJar OUTPUT --manifest FILE [--zip|--file|--tree VALUE]...");
        }
        ReproducibleJar jar = new ReproducibleJar();
        for (int i = 1; i < args.length; i += 2) {
            jar.take(args[i], args[i + 1]);
        }
        if (jar.manifest == null) {
            fail("ReproducibleJar: no --manifest given");
        }
        jar.write(Paths.get(args[0]), entryTime(System.getenv("SOURCE_DATE_EPOCH")));
    }

    private void take(String option, String value) throws IOException {
        switch (option) {
            case "--manifest":
                manifest = Files.readAllBytes(Paths.get(value));
                break;
            case "--zip":
                takeZip(Paths.get(value));
                break;
            case "--file":
                add(nameOf(value), Files.readAllBytes(Paths.get(pathOf(value))));
                break;
            case "--tree":
                takeTree(nameOf(value), Paths.get(pathOf(value)));
                break;
            default:
                fail("ReproducibleJar: unknown option " + option);
        }
    }

    private void takeZip(Path zip) throws IOException {
        try (ZipFile file = new ZipFile(zip.toFile())) {
            for (Enumeration<? extends ZipEntry> all = file.entries(); all.hasMoreElements(); ) {
                ZipEntry entry = all.nextElement();
                if (!entry.isDirectory() && !entry.getName().equals(MANIFEST)) {
                    add(entry.getName(), file.getInputStream(entry).readAllBytes());
                }
            }
        }
    }

    private void takeTree(String prefix, Path folder) throws IOException {
        List<Path> files = new ArrayList<>();
        try (Stream<Path> all = Files.walk(folder)) {
            all.filter(Files::isRegularFile).forEach(files::add);
        }
        for (Path file : files) {
            String relative = folder.relativize(file).toString().replace('\\', '/');
            add(prefix.isEmpty() ? relative : prefix + "/" + relative, Files.readAllBytes(file));
        }
    }

    private void add(String name, byte[] content) {
        if (name.equals(MANIFEST)) {
            fail("ReproducibleJar: the manifest comes from --manifest only");
        }
        if (entries.put(name, content) != null) {
            fail("ReproducibleJar: " + name + " is given twice");
        }
    }

    /** Written beside the output and moved into place, so no reader sees half a jar. */
    private void write(Path output, LocalDateTime time) throws IOException {
        Path partial = output.resolveSibling(output.getFileName() + ".partial");
        try (OutputStream file = Files.newOutputStream(partial);
                ZipOutputStream zip = new ZipOutputStream(file)) {
            Set<String> folders = new HashSet<>();
            putFoldersOf(zip, MANIFEST, time, folders);
            putEntry(zip, new ZipEntry(MANIFEST), manifest, time);
            for (Map.Entry<String, byte[]> entry : entries.entrySet()) {
                putFoldersOf(zip, entry.getKey(), time, folders);
                putEntry(zip, new ZipEntry(entry.getKey()), entry.getValue(), time);
            }
        }
        Files.move(partial, output, StandardCopyOption.REPLACE_EXISTING);
    }

    /** Each folder of a name that has no entry yet, outermost first. */
    private static void putFoldersOf(ZipOutputStream zip, String name, LocalDateTime time,
            Set<String> folders) throws IOException {
        for (int slash = name.indexOf('/'); slash >= 0; slash = name.indexOf('/', slash + 1)) {
            String folder = name.substring(0, slash + 1);
            if (folders.add(folder)) {
                ZipEntry entry = new ZipEntry(folder);
                // Stored, as the jar tool stores folders: nothing to compress.
                entry.setMethod(ZipEntry.STORED);
                entry.setSize(0);
                entry.setCrc(0);
                putEntry(zip, entry, new byte[0], time);
            }
        }
    }

    private static void putEntry(ZipOutputStream zip, ZipEntry entry, byte[] content,
            LocalDateTime time) throws IOException {
        // A local date and time alone: no extended time field, which would carry the build's zone.
        entry.setTimeLocal(time);
        zip.putNextEntry(entry);
        zip.write(content);
        zip.closeEntry();
    }

    static LocalDateTime entryTime(String sourceDateEpoch) {
        if (sourceDateEpoch == null || sourceDateEpoch.isEmpty()) {
            return EARLIEST;
        }
        LocalDateTime time;
        try {
            time = LocalDateTime.ofEpochSecond(Long.parseLong(sourceDateEpoch), 0, ZoneOffset.UTC);
        } catch (RuntimeException e) {
            throw new IllegalArgumentException("SOURCE_DATE_EPOCH is no number of seconds: "
                    + sourceDateEpoch, e);
        }
        return time.isBefore(EARLIEST) ? EARLIEST : time;
    }

    private static String nameOf(String pair) {
        int eq = pair.indexOf('=');
        if (eq < 0) {
            fail("ReproducibleJar: expected NAME=PATH, got " + pair);
        }
        return pair.substring(0, eq);
    }

    private static String pathOf(String pair) {
        return pair.substring(pair.indexOf('=') + 1);
    }

    private static void fail(String message) {
        System.err.println(message);
        System.exit(2);
    }
}
