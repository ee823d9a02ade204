package zelp.internal;

import java.io.ByteArrayOutputStream;
import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.nio.file.AtomicMoveNotSupportedException;
import java.nio.file.FileSystems;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardCopyOption;
import java.nio.file.attribute.PosixFilePermission;
import java.nio.file.attribute.PosixFilePermissions;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import java.util.Locale;
import java.util.Set;

/**
 * Loads the native library LibIoZelp for {@link com.quenrix.zel.comm.ParallelPort} and {@link
 * dravn.usb.UsbDevice}. Internal to this jar: applications never call it, and it may change without
 * notice.
 *
 * <p>The ways are tried in this order, and the first that works wins:
 *
 * <ol>
 *   <li>the file named by the system property {@value #PATH_PROPERTY}, when it is set;
 *   <li>{@code System.loadLibrary("LibIoZelp")}, so that a library installed on {@code
 *       java.library.path} is preferred to the one in the jar;
 *   <li>the copy in this jar for the running JVM's system, data model and, on 32-bit ARM, float
 *       ABI (resource {@code natives/<os>-<arch>/<library file>}, see {@link RunningSystem}),
 *       extracted once into a folder named by its content hash under the user's cache folder
 *       ({@code $XDG_CACHE_HOME} or {@code ~/.cache} on Linux, {@code %LOCALAPPDATA%} on Windows),
 *       else under {@code java.io.tmpdir}, and re-used by later runs. A folder on a file system
 *       mounted without execute rights is passed over for the next.
 * </ol>
 *
 * <p>When every way fails, one {@link UnsatisfiedLinkError} lists each way tried and why it failed.
 */
public final class NativeLoader {
    /** The module name of the library, as {@code System.loadLibrary} takes it. */
    public static final String LIBRARY_NAME = "LibIoZelp";

    /** The system property naming the library file to load before any other way is tried. */
    public static final String PATH_PROPERTY = "zelp.library.path";

    private static final String RESOURCE_FOLDER = "natives";
    private static final int HASH_HEX_CHARS = 32;

    private static String loadedFrom;
    private static List<String> passedOver = Collections.emptyList();

    private NativeLoader() {}

    /**
     * Loads the library unless this class loader already has it. Safe to call from several classes
     * and threads.
     *
     * @throws UnsatisfiedLinkError when no way works; its message lists every way tried
     */
    public static synchronized void load() {
        if (loadedFrom != null) {
            return;
        }
        List<String> failures = new ArrayList<String>();
        String from = loadFromProperty(failures);
        if (from == null) {
            from = loadFromLibraryPath(failures);
        }
        if (from == null) {
            from = loadBundled(failures);
        }
        if (from == null) {
            throw new UnsatisfiedLinkError(describeFailures(failures));
        }
        loadedFrom = from;
        passedOver = Collections.unmodifiableList(failures);
    }

    /**
     * How the library was loaded (the way and the file), or null when it has not been loaded by
     * this class. Meant for diagnostics and tests.
     *
     * @return a one-line description, or null
     */
    public static synchronized String loadedFrom() {
        return loadedFrom;
    }

    /**
     * The ways tried before the one that loaded the library, each with why it failed: a folder
     * mounted noexec, a cache folder that could not be written... Empty before the library has been
     * loaded by this class.
     *
     * @return one line for each way passed over, in the order tried
     */
    public static synchronized List<String> passedOver() {
        return passedOver;
    }

    /**
     * Whether a load failure is the one a file system mounted without execute rights (noexec)
     * gives: the library cannot be mapped, whatever the file holds.
     *
     * @param message the message of the {@link UnsatisfiedLinkError}
     * @return true for the noexec failure
     */
    public static boolean isNoExecFailure(String message) {
        return message != null
                && (message.contains("failed to map segment")
                        || message.contains("Operation not permitted"));
    }

    // --- The three ways ---------------------------------------------------------------------------

    private static String loadFromProperty(List<String> failures) {
        String path = System.getProperty(PATH_PROPERTY);
        if (path == null || path.isEmpty()) {
            failures.add("system property " + PATH_PROPERTY + ": not set");
            return null;
        }
        File file = new File(path).getAbsoluteFile();
        String way = "system property " + PATH_PROPERTY + "=" + path;
        if (!file.isFile()) {
            failures.add(way + ": no such file");
            return null;
        }
        try {
            System.load(file.getPath());
            return way;
        } catch (UnsatisfiedLinkError e) {
            failures.add(way + ": " + e.getMessage());
            return null;
        }
    }

    private static String loadFromLibraryPath(List<String> failures) {
        String way = "System.loadLibrary(\"" + LIBRARY_NAME + "\")";
        try {
            System.loadLibrary(LIBRARY_NAME);
            return way;
        } catch (UnsatisfiedLinkError e) {
            String searched = System.getProperty("java.library.path");
            String message = String.valueOf(e.getMessage());
            // Newer runtimes name the folders searched themselves.
            failures.add(way + ": " + message
                    + (message.contains(String.valueOf(searched)) ? ""
                            : " (java.library.path=" + searched + ")"));
            return null;
        }
    }

    private static String loadBundled(List<String> failures) {
        RunningSystem system = RunningSystem.current();
        String folder = system.folder();
        if (folder == null) {
            failures.add("the library in the jar: none is made for this system ("
                    + system.describe() + "); " + carriedLibraries());
            return null;
        }
        String fileName = System.mapLibraryName(LIBRARY_NAME);
        String resource = RESOURCE_FOLDER + "/" + folder + "/" + fileName;
        byte[] library;
        try {
            library = readResource(resource);
        } catch (IOException e) {
            failures.add("the library in the jar (" + resource + "): cannot be read: " + e);
            return null;
        }
        if (library == null) {
            failures.add("the library in the jar (" + resource + "): not in this jar, which was"
                    + " built without the library for " + folder + " (" + system.describe() + "); "
                    + carriedLibraries());
            return null;
        }
        String hash = contentHash(library);
        for (ExtractionFolder base : extractionFolders()) {
            Path target = base.path.resolve(hash).resolve(fileName);
            String way = "the library in the jar (" + resource + ") at " + target;
            LoadOutcome outcome = extractAndLoad(library, hash, base, target, way, failures);
            if (outcome == LoadOutcome.LOADED) {
                return way;
            }
            if (outcome == LoadOutcome.GIVE_UP) {
                return null;
            }
        }
        return null;
    }

    // --- Extraction -------------------------------------------------------------------------------

    private enum LoadOutcome {
        LOADED,
        TRY_NEXT_FOLDER,
        GIVE_UP
    }

    private static LoadOutcome extractAndLoad(byte[] library, String hash, ExtractionFolder base,
            Path target, String way, List<String> failures) {
        try {
            if (base.shared) {
                preparePrivateFolder(base.path);
            }
            ensureExtracted(library, hash, target);
        } catch (IOException | RuntimeException e) {
            failures.add(way + ": cannot be extracted there: " + e);
            return LoadOutcome.TRY_NEXT_FOLDER;
        }
        try {
            System.load(target.toString());
            return LoadOutcome.LOADED;
        } catch (UnsatisfiedLinkError e) {
            String reason = withoutPath(String.valueOf(e.getMessage()), target.toString());
            if (isNoExecFailure(reason)) {
                failures.add(way + ": " + reason
                        + " (the folder's file system does not let programs run: mounted noexec)");
                return LoadOutcome.TRY_NEXT_FOLDER;
            }
            // Any other reason lies in the library itself; another folder cannot help.
            failures.add(way + ": " + reason);
            return LoadOutcome.GIVE_UP;
        }
    }

    /**
     * Leaves the library at the target: a file already there with the right content is re-used
     * (another run, or another JVM at the same moment, put it there); anything else is replaced
     * whole, so a load never sees a half-written file.
     */
    private static void ensureExtracted(byte[] library, String hash, Path target)
            throws IOException {
        if (holdsContent(target, hash)) {
            return;
        }
        Path folder = target.getParent();
        Files.createDirectories(folder);
        Path partial = Files.createTempFile(folder, target.getFileName().toString(), ".part");
        try {
            Files.write(partial, library);
            moveIntoPlace(partial, target);
        } catch (IOException e) {
            // A loaded copy cannot be replaced on Windows; if the winner of a race left the
            // right content, it serves as well as ours.
            if (!holdsContent(target, hash)) {
                throw e;
            }
        } finally {
            Files.deleteIfExists(partial);
        }
    }

    private static void moveIntoPlace(Path partial, Path target) throws IOException {
        try {
            Files.move(partial, target, StandardCopyOption.ATOMIC_MOVE,
                    StandardCopyOption.REPLACE_EXISTING);
        } catch (AtomicMoveNotSupportedException e) {
            Files.move(partial, target, StandardCopyOption.REPLACE_EXISTING);
        }
    }

    private static boolean holdsContent(Path file, String hash) {
        try {
            return Files.isRegularFile(file) && hash.equals(contentHash(Files.readAllBytes(file)));
        } catch (IOException e) {
            return false;
        }
    }

    // --- Where the library is extracted ----------------------------------------------------------

    /** A folder to extract into; a shared one lies in a place other users may write to. */
    private static final class ExtractionFolder {
        final Path path;
        final boolean shared;

        ExtractionFolder(Path path, boolean shared) {
            this.path = path;
            this.shared = shared;
        }
    }

    /** The folders to try, best first: the user's cache folder, then the temporary folder. */
    private static List<ExtractionFolder> extractionFolders() {
        List<ExtractionFolder> folders = new ArrayList<ExtractionFolder>();
        Path cache = userCacheFolder();
        if (cache != null) {
            folders.add(new ExtractionFolder(cache.resolve("zelp"), false));
        }
        Path temporary = temporaryFolder();
        if (temporary != null) {
            folders.add(new ExtractionFolder(temporary, true));
        }
        return folders;
    }

    private static Path userCacheFolder() {
        if (isWindows(System.getProperty("os.name"))) {
            return absolutePathOrNull(System.getenv("LOCALAPPDATA"));
        }
        Path xdg = absolutePathOrNull(System.getenv("XDG_CACHE_HOME"));
        if (xdg != null) {
            return xdg;
        }
        Path home = absolutePathOrNull(System.getProperty("user.home"));
        return home == null ? null : home.resolve(".cache");
    }

    /**
     * A folder of the user's own under the shared temporary folder. Another user could otherwise
     * leave a library of theirs where ours is looked for, so a folder that is not ours, or that
     * others may write to, is not used.
     */
    private static Path temporaryFolder() {
        Path base = absolutePathOrNull(System.getProperty("java.io.tmpdir"));
        if (base == null) {
            return null;
        }
        String user = System.getProperty("user.name", "user").replaceAll("[^A-Za-z0-9._-]", "_");
        return base.resolve("zelp-" + user);
    }

    private static Path absolutePathOrNull(String text) {
        if (text == null || text.isEmpty()) {
            return null;
        }
        try {
            Path path = Paths.get(text);
            return path.isAbsolute() ? path : null;
        } catch (RuntimeException e) {
            return null;
        }
    }

    private static void preparePrivateFolder(Path folder) throws IOException {
        if (!FileSystems.getDefault().supportedFileAttributeViews().contains("posix")) {
            Files.createDirectories(folder);
            return;
        }
        if (!Files.isDirectory(folder)) {
            Files.createDirectories(folder,
                    PosixFilePermissions.asFileAttribute(PosixFilePermissions.fromString("rwx------")));
        }
        String owner = Files.getOwner(folder).getName();
        if (!owner.equals(System.getProperty("user.name"))) {
            throw new IOException(folder + " belongs to " + owner);
        }
        Set<PosixFilePermission> permissions = Files.getPosixFilePermissions(folder);
        if (permissions.contains(PosixFilePermission.GROUP_WRITE)
                || permissions.contains(PosixFilePermission.OTHERS_WRITE)) {
            throw new IOException(folder + " may be written by others ("
                    + PosixFilePermissions.toString(permissions) + ")");
        }
    }

    // --- Small helpers ---------------------------------------------------------------------------

    private static byte[] readResource(String resource) throws IOException {
        InputStream in = NativeLoader.class.getClassLoader() == null
                ? ClassLoader.getSystemResourceAsStream(resource)
                : NativeLoader.class.getClassLoader().getResourceAsStream(resource);
        if (in == null) {
            return null;
        }
        try {
            ByteArrayOutputStream bytes = new ByteArrayOutputStream(1 << 20);
            byte[] buffer = new byte[64 * 1024];
            for (int n = in.read(buffer); n >= 0; n = in.read(buffer)) {
                bytes.write(buffer, 0, n);
            }
            return bytes.toByteArray();
        } finally {
            in.close();
        }
    }

    /** Which systems this jar has a library for, so that a user can tell a wrong jar at once. */
    private static String carriedLibraries() {
        List<String> carried = new ArrayList<String>();
        ClassLoader loader = NativeLoader.class.getClassLoader();
        for (String folder : RunningSystem.FOLDERS) {
            String resource = RESOURCE_FOLDER + "/" + folder + "/" + RunningSystem.libraryFileName(folder);
            if ((loader == null ? ClassLoader.getSystemResource(resource)
                    : loader.getResource(resource)) != null) {
                carried.add(folder);
            }
        }
        return carried.isEmpty() ? "this jar carries no library"
                : "this jar carries the libraries for " + String.join(", ", carried);
    }

    private static String contentHash(byte[] content) {
        try {
            byte[] digest = MessageDigest.getInstance("SHA-256").digest(content);
            StringBuilder hex = new StringBuilder();
            for (byte b : Arrays.copyOf(digest, HASH_HEX_CHARS / 2)) {
                hex.append(String.format("%02x", b & 0xff));
            }
            return hex.toString();
        } catch (NoSuchAlgorithmException e) {
            // Every Java runtime has SHA-256.
            throw new IllegalStateException(e);
        }
    }

    private static boolean isWindows(String osName) {
        return osName != null && osName.toLowerCase(Locale.ROOT).startsWith("windows");
    }

    /** The runtime's message starts with the file's path, often twice; the way names it already. */
    private static String withoutPath(String message, String path) {
        String text = message;
        while (text.startsWith(path + ": ")) {
            text = text.substring(path.length() + 2);
        }
        return text;
    }

    private static String describeFailures(List<String> failures) {
        StringBuilder text = new StringBuilder(LIBRARY_NAME + " could not be loaded. Tried, in order:");
        for (int i = 0; i < failures.size(); i++) {
            text.append(System.lineSeparator()).append("  ").append(i + 1).append(". ")
                    .append(failures.get(i));
        }
        text.append(System.lineSeparator()).append("Set -D").append(PATH_PROPERTY)
                .append("=<path of the library file>, or put the library on java.library.path.");
        return text.toString();
    }
}
