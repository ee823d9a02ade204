package zelp.test.loader;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import java.io.IOException;
import java.io.InputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.attribute.BasicFileAttributes;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Comparator;
import java.util.List;
import java.util.jar.JarEntry;
import java.util.jar.JarFile;
import java.util.stream.Stream;
import org.junit.jupiter.api.Test;
import zelp.internal.NativeLoader;
import zelp.internal.RunningSystem;

/**
 * The loader of zelp.jar, each case in fresh JVMs: from the jar into the cache and back, the
 * fallbacks past folders that cannot serve, and the one error that lists every way tried.
 */
class LoaderTest {
    private static final Path SCRATCH = Paths.get(System.getProperty("zelp.test.scratch"));
    private static final String LIBRARY = System.getProperty("zelp.test.library");
    private static final String SIM_LIBRARY = System.getProperty("zelp.test.simlibrary");
    private static final String FOLDER = RunningSystem.current().folder();
    private static final String FILE_NAME = System.mapLibraryName("LibIoZelp");
    private static final String TEMP_FOLDER = "zelp-" + System.getProperty("user.name");

    // --- What the loader knows without loading -----------------------------------------------------

    @Test
    void eachSystemDataModelAndFloatAbiHasItsFolder() {
        String[][] cases = {
            // os.name, os.arch, sun.arch.data.model, float ABI, folder (null: none fits)
            {"Linux", "amd64", "64", null, "linux-x86_64"},
            {"Linux", "i386", "32", null, "linux-x86"},
            {"Linux", "aarch64", "64", null, "linux-aarch64"},
            // A 32-bit ARM JVM says "arm" (uname -m says armv7l); only hard float fits.
            {"Linux", "arm", "32", "hard", "linux-armhf"},
            {"Linux", "armv7l", "32", "hard", "linux-armhf"},
            {"Linux", "arm", "32", null, "linux-armhf"},
            {"Linux", "arm", "32", "soft", null},
            {"Linux", "armv5tel", "32", "soft", null},
            {"Windows 10", "x86", "32", null, "windows-x86"},
            {"Windows 11", "amd64", "64", null, "windows-x86_64"},
            // A 32-bit JVM can load only a 32-bit library, whatever the processor.
            {"Windows 11", "amd64", "32", null, "windows-x86"},
            {"Windows Server 2019", "x86_64", null, null, "windows-x86_64"},
            {"Mac OS X", "aarch64", "64", null, null},
            {"Linux", "ppc64le", "64", null, null},
            {null, "amd64", "64", null, null},
        };
        for (String[] c : cases) {
            RunningSystem system = new RunningSystem(c[0], c[1], c[2], c[3]);
            assertEquals(c[4], system.folder(), system.describe());
        }
        assertEquals("os.name=Linux, os.arch=arm, sun.arch.data.model=32, float ABI soft",
                new RunningSystem("Linux", "arm", "32", "soft").describe());
    }

    @Test
    void theFloatAbiIsReadFromAnArmElfHeader() {
        assertEquals("hard", RunningSystem.floatAbiOfElf(elfHeader(1, 1, 40, 0x05000400)));
        assertEquals("soft", RunningSystem.floatAbiOfElf(elfHeader(1, 1, 40, 0x05000200)));
        // An EABI file that names no float ABI passes floats in core registers.
        assertEquals("soft", RunningSystem.floatAbiOfElf(elfHeader(1, 1, 40, 0x05000000)));
        assertNull(RunningSystem.floatAbiOfElf(elfHeader(2, 1, 183, 0)), "64-bit ARM");
        assertNull(RunningSystem.floatAbiOfElf(elfHeader(1, 1, 3, 0x400)), "32-bit x86");
        assertNull(RunningSystem.floatAbiOfElf(elfHeader(1, 2, 40, 0x05000400)), "big-endian");
        assertNull(RunningSystem.floatAbiOfElf(Arrays.copyOf(elfHeader(1, 1, 40, 0x400), 40)));
    }

    @Test
    void aNoexecFolderIsRecognisedByItsLoadFailure() {
        assertTrue(NativeLoader.isNoExecFailure(
                "/c/zelp/ab/libLibIoZelp.so: failed to map segment from shared object"));
        assertTrue(NativeLoader.isNoExecFailure(
                "/c/libLibIoZelp.so: failed to map segment from shared object: Operation not permitted"));
        assertFalse(NativeLoader.isNoExecFailure("/c/libLibIoZelp.so: wrong ELF class: ELFCLASS32"));
        assertFalse(NativeLoader.isNoExecFailure(null));
    }

    @Test
    void theJarCarriesTheLibraryOfThisBuild() throws IOException {
        try (JarFile jar = new JarFile(JvmRun.JAR)) {
            String entry = "natives/" + FOLDER + "/" + FILE_NAME;
            assertNotNull(jar.getEntry(entry), entry);
            try (InputStream in = jar.getInputStream(jar.getEntry(entry))) {
                assertArrayEquals(Files.readAllBytes(Paths.get(LIBRARY)), in.readAllBytes());
            }
            assertNotNull(jar.getEntry("zelp/internal/NativeLoader.class"));
            assertNotNull(jar.getEntry("dravn/usb/UsbDevice.class"));
            assertNotNull(jar.getEntry("com/quenrix/zel/comm/ParallelPort.class"));
        }
    }

    @Test
    void theJarCarriesTheLibraryOfEachOtherSystemThatHasBeenBuilt() throws IOException {
        try (JarFile jar = new JarFile(JvmRun.JAR)) {
            for (String folder : RunningSystem.FOLDERS) {
                if (folder.equals(FOLDER)) {
                    continue;
                }
                Path built = Paths.get(System.getProperty("zelp.test.native." + folder));
                JarEntry entry = jar.getJarEntry(
                        "natives/" + folder + "/" + RunningSystem.libraryFileName(folder));
                if (!Files.exists(built)) {
                    assertNull(entry, folder + " was not built, yet the jar has it");
                    continue;
                }
                assertNotNull(entry, built + " was built, yet the jar lacks it");
                try (InputStream in = jar.getInputStream(entry)) {
                    byte[] library = in.readAllBytes();
                    assertArrayEquals(Files.readAllBytes(built), library, folder);
                    // The loader sends only hard-float JVMs to this folder.
                    assertEquals(folder.equals("linux-armhf") ? "hard" : null,
                            RunningSystem.floatAbiOfElf(Arrays.copyOf(library, 52)), folder);
                }
            }
        }
    }

    // --- From the jar ------------------------------------------------------------------------------

    @Test
    void theLibraryIsExtractedOnceIntoTheCacheAndReused() throws Exception {
        Path dir = fresh("cache-reuse");
        Path cache = dir.resolve("cache");
        JvmRun first = inCache(cache, dir.resolve("tmp")).run(dir.resolve("run1"));
        assertLoadedFromJarUnder(first, cache.resolve("zelp"));
        assertEquals("0", first.line("printers"), first.transcript());
        assertEquals("false", first.line("parallel port on line"), first.transcript());
        Path extracted = Paths.get(first.line("loaded from").replaceFirst(".* at ", ""));
        assertArrayEquals(Files.readAllBytes(Paths.get(LIBRARY)), Files.readAllBytes(extracted));
        Object fileKey = Files.readAttributes(extracted, BasicFileAttributes.class).fileKey();
        assertFalse(Files.exists(dir.resolve("tmp").resolve(TEMP_FOLDER)), "tmp stays unused");

        JvmRun second = inCache(cache, dir.resolve("tmp")).run(dir.resolve("run2"));
        assertEquals(first.line("loaded from"), second.line("loaded from"), second.transcript());
        assertEquals(fileKey, Files.readAttributes(extracted, BasicFileAttributes.class).fileKey(),
                "the copy of the first run is re-used, not written again");

        // A damaged copy is never loaded: its content no longer matches its folder's name.
        Files.write(extracted, new byte[] {0x7f, 'E', 'L', 'F', 0});
        JvmRun third = inCache(cache, dir.resolve("tmp")).run(dir.resolve("run3"));
        assertEquals(first.line("loaded from"), third.line("loaded from"), third.transcript());
        assertArrayEquals(Files.readAllBytes(Paths.get(LIBRARY)), Files.readAllBytes(extracted));
    }

    @Test
    void withoutXdgCacheHomeTheCacheIsInTheHomeFolder() throws Exception {
        Path dir = fresh("home-cache");
        JvmRun run = new JvmRun().withoutEnv("XDG_CACHE_HOME")
                .option("-Duser.home=" + dir.resolve("home"))
                .option("-Djava.io.tmpdir=" + dir.resolve("tmp"))
                .run(dir.resolve("run"));
        assertLoadedFromJarUnder(run, dir.resolve("home").resolve(".cache").resolve("zelp"));
    }

    @Test
    void anUnusableCacheFolderFallsBackToTheTemporaryFolder() throws Exception {
        Path dir = fresh("cache-unusable");
        // A file where the cache folder should be: no folder can be made under it, not even by root.
        Path blocked = Files.writeString(dir.resolve("not-a-folder"), "x");
        JvmRun run = inCache(blocked, dir.resolve("tmp")).run(dir.resolve("run"));
        assertLoadedFromJarUnder(run, dir.resolve("tmp").resolve(TEMP_FOLDER));
        assertTrue(run.lines("passed over").stream().anyMatch(
                way -> way.contains(blocked.toString()) && way.contains("cannot be extracted")),
                run.transcript());
    }

    @Test
    void aTemporaryFolderOthersMayWriteToIsNotUsed() throws Exception {
        Path dir = fresh("tmp-open");
        Path blocked = Files.writeString(dir.resolve("not-a-folder"), "x");
        Path shared = Files.createDirectories(dir.resolve("tmp").resolve(TEMP_FOLDER));
        Files.setPosixFilePermissions(shared, PosixFilePermissions.fromString("rwxrwxrwx"));
        JvmRun run = inCache(blocked, dir.resolve("tmp")).run(dir.resolve("run"));
        assertNotEquals(0, run.exitCode, run.transcript());
        assertTrue(run.err.contains("may be written by others"), run.transcript());
        try (Stream<Path> inside = Files.list(shared)) {
            assertEquals(0, inside.count(), "nothing was put in it");
        }
    }

    // --- The ways before the jar -------------------------------------------------------------------

    @Test
    void thePropertyWinsOverTheLibraryPathAndTheJar() throws Exception {
        Path dir = fresh("property");
        JvmRun run = inCache(dir.resolve("cache"), dir.resolve("tmp"))
                .option("-Dzelp.library.path=" + SIM_LIBRARY)
                .option("-Djava.library.path=" + Paths.get(LIBRARY).getParent())
                .run(dir.resolve("run"));
        assertEquals(0, run.exitCode, run.transcript());
        assertEquals("system property zelp.library.path=" + SIM_LIBRARY, run.line("loaded from"));
        assertFalse(Files.exists(dir.resolve("cache")), "nothing extracted");
    }

    @Test
    void aLibraryOnTheLibraryPathWinsOverTheJar() throws Exception {
        Path dir = fresh("library-path");
        JvmRun run = inCache(dir.resolve("cache"), dir.resolve("tmp"))
                .option("-Djava.library.path=" + Paths.get(SIM_LIBRARY).getParent())
                .run(dir.resolve("run"));
        assertEquals(0, run.exitCode, run.transcript());
        assertEquals("System.loadLibrary(\"LibIoZelp\")", run.line("loaded from"));
        assertFalse(Files.exists(dir.resolve("cache")), "nothing extracted");
    }

    @Test
    void aPropertyNamingNoFileIsPassedOverForTheNextWay() throws Exception {
        Path dir = fresh("property-missing");
        JvmRun run = inCache(dir.resolve("cache"), dir.resolve("tmp"))
                .option("-Dzelp.library.path=" + dir.resolve("missing.so"))
                .run(dir.resolve("run"));
        assertLoadedFromJarUnder(run, dir.resolve("cache").resolve("zelp"));
        assertEquals("system property zelp.library.path=" + dir.resolve("missing.so")
                + ": no such file", run.lines("passed over").get(0));
    }

    @Test
    void oneErrorListsEveryWayTriedWhenAllFail() throws Exception {
        Path dir = fresh("all-fail");
        Path blocked = Files.writeString(dir.resolve("not-a-folder"), "x");
        JvmRun run = inCache(blocked, blocked.resolve("tmp"))
                .option("-Dzelp.library.path=" + dir.resolve("missing.so"))
                .run(dir.resolve("run"));
        assertNotEquals(0, run.exitCode, run.transcript());
        assertEquals(1, count(run.err, "java.lang.UnsatisfiedLinkError"), run.transcript());
        assertInOrder(run.err,
                "LibIoZelp could not be loaded. Tried, in order:",
                "1. system property zelp.library.path=" + dir.resolve("missing.so") + ": no such file",
                "2. System.loadLibrary(\"LibIoZelp\"): ", "java.library.path",
                "3. the library in the jar (natives/" + FOLDER + "/" + FILE_NAME + ") at "
                        + blocked.resolve("zelp"),
                "cannot be extracted there",
                "4. the library in the jar (natives/" + FOLDER + "/" + FILE_NAME + ") at "
                        + blocked.resolve("tmp").resolve(TEMP_FOLDER),
                "cannot be extracted there",
                "-Dzelp.library.path=");
    }

    @Test
    void onASystemWithoutALibraryTheErrorNamesItAndWhatTheJarCarries() throws Exception {
        Path dir = fresh("no-such-system");
        JvmRun run = inCache(dir.resolve("cache"), dir.resolve("tmp"))
                .option("-Dos.arch=ppc64le")
                .run(dir.resolve("run"));
        assertNotEquals(0, run.exitCode, run.transcript());
        List<String> carried = new ArrayList<>();
        try (JarFile jar = new JarFile(JvmRun.JAR)) {
            for (String folder : RunningSystem.FOLDERS) {
                if (jar.getEntry("natives/" + folder + "/" + RunningSystem.libraryFileName(folder)) != null) {
                    carried.add(folder);
                }
            }
        }
        assertInOrder(run.err, "3. the library in the jar: none is made for this system (os.name="
                + System.getProperty("os.name") + ", os.arch=ppc64le, sun.arch.data.model="
                + System.getProperty("sun.arch.data.model") + "); this jar carries the libraries for "
                + String.join(", ", carried));
        assertFalse(Files.exists(dir.resolve("cache")), "nothing extracted");
    }

    // --- Folders mounted noexec (needs the rights to mount in a namespace of its own) ------------

    @Test
    void aNoexecCacheFolderIsPassedOverForTheTemporaryFolder() throws Exception {
        Path dir = fresh("noexec-cache");
        Path cache = Files.createDirectories(dir.resolve("cache"));
        JvmRun run = inCache(cache, dir.resolve("tmp")).under(noexec(cache)).run(dir.resolve("run"));
        assertLoadedFromJarUnder(run, dir.resolve("tmp").resolve(TEMP_FOLDER));
        assertTrue(run.lines("passed over").stream().anyMatch(
                way -> way.contains(cache.toString()) && way.contains("mounted noexec")),
                run.transcript());
    }

    @Test
    void aNoexecTemporaryFolderDoesNotStopTheCacheFolder() throws Exception {
        Path dir = fresh("noexec-tmp");
        Path tmp = Files.createDirectories(dir.resolve("tmp"));
        JvmRun run = inCache(dir.resolve("cache"), tmp).under(noexec(tmp)).run(dir.resolve("run"));
        assertLoadedFromJarUnder(run, dir.resolve("cache").resolve("zelp"));
    }

    @Test
    void whenEveryFolderIsNoexecTheErrorSaysSoForEach() throws Exception {
        Path dir = fresh("noexec-all");
        Path cache = Files.createDirectories(dir.resolve("cache"));
        Path tmp = Files.createDirectories(dir.resolve("tmp"));
        JvmRun run = inCache(cache, tmp).under(noexec(cache, tmp)).run(dir.resolve("run"));
        assertNotEquals(0, run.exitCode, run.transcript());
        assertEquals(2, count(run.err, "mounted noexec"), run.transcript());
        assertInOrder(run.err, "3. the library in the jar", cache.toString(), "failed to map segment",
                "4. the library in the jar", tmp.toString(), "failed to map segment");
    }

    // --- Helpers ---------------------------------------------------------------------------------

    /** The first bytes of an ELF file: class (1: 32-bit), byte order (1: little), machine, flags. */
    private static byte[] elfHeader(int elfClass, int byteOrder, int machine, int flags) {
        byte[] header = new byte[64];
        header[0] = 0x7f;
        header[1] = 'E';
        header[2] = 'L';
        header[3] = 'F';
        header[4] = (byte) elfClass;
        header[5] = (byte) byteOrder;
        header[18] = (byte) machine;
        for (int i = 0; i < 4; i++) {
            header[36 + i] = (byte) (flags >>> (8 * i));
        }
        return header;
    }

    private static JvmRun inCache(Path cache, Path tmp) {
        return new JvmRun().env("XDG_CACHE_HOME", cache.toString())
                .option("-Djava.io.tmpdir=" + tmp);
    }

    private static void assertLoadedFromJarUnder(JvmRun run, Path folder) {
        assertEquals(0, run.exitCode, run.transcript());
        assertFalse(run.err.contains("WARNING in native method"), run.transcript());
        String from = run.line("loaded from");
        assertNotNull(from, run.transcript());
        String expectedStart = "the library in the jar (natives/" + FOLDER + "/" + FILE_NAME + ") at "
                + folder + "/";
        assertTrue(from.startsWith(expectedStart) && from.endsWith("/" + FILE_NAME),
                "expected under " + folder + "\n" + run.transcript());
    }

    /** Runs the JVM with the folders mounted noexec, in a mount namespace that ends with it. */
    private static List<String> noexec(Path... folders) throws Exception {
        assumeTrue(canMountNoexec(), "mounting a tmpfs needs root and unshare");
        StringBuilder script = new StringBuilder();
        for (int i = 1; i <= folders.length; i++) {
            script.append("mount -t tmpfs -o noexec zelp-noexec \"$").append(i).append("\" || exit 97; ");
        }
        script.append("shift ").append(folders.length).append("; exec \"$@\"");
        List<String> command = new ArrayList<>(List.of("unshare", "-m", "sh", "-c", script.toString(), "sh"));
        for (Path folder : folders) {
            command.add(folder.toString());
        }
        return command;
    }

    private static Boolean mountable;

    private static synchronized boolean canMountNoexec() throws Exception {
        if (mountable == null) {
            Path probe = fresh("noexec-probe");
            Process process = new ProcessBuilder("unshare", "-m", "sh", "-c",
                    "mount -t tmpfs -o noexec zelp-noexec \"$1\"", "sh", probe.toString())
                    .redirectErrorStream(true).redirectOutput(probe.resolveSibling("noexec-probe.log").toFile())
                    .start();
            mountable = process.waitFor() == 0;
        }
        return mountable;
    }

    private static Path fresh(String name) throws IOException {
        Path dir = SCRATCH.resolve(name);
        if (Files.exists(dir)) {
            try (Stream<Path> all = Files.walk(dir)) {
                for (Path path : (Iterable<Path>) all.sorted(Comparator.reverseOrder())::iterator) {
                    Files.delete(path);
                }
            }
        }
        return Files.createDirectories(dir);
    }

    private static int count(String text, String part) {
        int n = 0;
        for (int at = text.indexOf(part); at >= 0; at = text.indexOf(part, at + part.length())) {
            n++;
        }
        return n;
    }

    private static void assertInOrder(String text, String... parts) {
        int at = 0;
        for (String part : parts) {
            int found = text.indexOf(part, at);
            assertTrue(found >= 0, "missing, or out of order: " + part + "\n--- in\n" + text);
            at = found + part.length();
        }
    }
}
