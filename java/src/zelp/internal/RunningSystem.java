package zelp.internal;

import java.io.FileInputStream;
import java.io.IOException;
import java.io.InputStream;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import java.util.Locale;

/**
 * The system a JVM runs on, as far as the choice of a native library goes: the operating system,
 * the processor family, the JVM's data model and, on 32-bit ARM, the float ABI. Internal to this
 * jar: applications never use it, and it may change without notice.
 */
public final class RunningSystem {
    /**
     * The systems the library is built for, each named as its folder in the jar ({@code
     * natives/<folder>/<library file>}), in the order messages list them.
     */
    public static final List<String> FOLDERS = Collections.unmodifiableList(Arrays.asList(
            "linux-x86_64", "linux-aarch64", "linux-armhf", "windows-x86", "windows-x86_64"));

    /** The float ABI of a 32-bit ARM process that passes floating-point values in VFP registers. */
    public static final String HARD_FLOAT = "hard";

    /** The float ABI of a 32-bit ARM process that passes floating-point values in core registers. */
    public static final String SOFT_FLOAT = "soft";

    private static final int ELF_HEADER_BYTES = 52;
    private static final int EM_ARM = 40;
    private static final int EF_ARM_ABI_FLOAT_HARD = 0x400;

    private final String osName;
    private final String osArch;
    private final String dataModel;
    private final String floatAbi;

    /**
     * A system as the JVM describes it.
     *
     * @param osName the value of {@code os.name}
     * @param osArch the value of {@code os.arch}
     * @param dataModel the value of {@code sun.arch.data.model} (32 or 64), or null when unknown
     * @param floatAbi {@link #HARD_FLOAT} or {@link #SOFT_FLOAT} on 32-bit ARM, else null
     */
    public RunningSystem(String osName, String osArch, String dataModel, String floatAbi) {
        this.osName = osName;
        this.osArch = osArch;
        this.dataModel = dataModel;
        this.floatAbi = floatAbi;
    }

    /**
     * The system of this JVM. On 32-bit ARM the float ABI is read from the process's own program
     * file, since the JVM reports none.
     *
     * @return this JVM's system
     */
    public static RunningSystem current() {
        String arch = System.getProperty("os.arch");
        return new RunningSystem(System.getProperty("os.name"), arch,
                System.getProperty("sun.arch.data.model"),
                isArm32(arch) ? floatAbiOfThisProcess() : null);
    }

    /**
     * The name of the folder in the jar that holds the library for this system, such as {@code
     * linux-x86_64} or {@code linux-armhf}; null for a system the library is not built for.
     *
     * @return the folder name, or null
     */
    public String folder() {
        String os = osFamily(osName);
        String arch = archFamily();
        if (os == null || arch == null) {
            return null;
        }
        return os + "-" + arch;
    }

    /**
     * The system in the words of the JVM's properties, for messages: {@code os.name=Linux,
     * os.arch=arm, sun.arch.data.model=32, float ABI soft}.
     *
     * @return a one-line description
     */
    public String describe() {
        StringBuilder text = new StringBuilder();
        text.append("os.name=").append(osName).append(", os.arch=").append(osArch)
                .append(", sun.arch.data.model=").append(dataModel);
        if (isArm32(osArch)) {
            text.append(", float ABI ").append(floatAbi == null ? "unknown" : floatAbi);
        }
        return text.toString();
    }

    /**
     * The file name of the library in a folder of the jar: {@code libLibIoZelp.so} on Linux,
     * {@code LibIoZelp.dll} on Windows.
     *
     * @param folder one of {@link #FOLDERS}
     * @return the file name
     */
    public static String libraryFileName(String folder) {
        return folder.startsWith("windows-") ? NativeLoader.LIBRARY_NAME + ".dll"
                : "lib" + NativeLoader.LIBRARY_NAME + ".so";
    }

    /**
     * The float ABI an ELF file was built for, from its header: {@link #HARD_FLOAT} when it is marked
     * as passing floating-point values in VFP registers, else {@link #SOFT_FLOAT}; null when the
     * bytes are not the header of a 32-bit little-endian ARM ELF file.
     *
     * @param header the first bytes of the file (52 suffice)
     * @return the float ABI, or null
     */
    public static String floatAbiOfElf(byte[] header) {
        if (header == null || header.length < ELF_HEADER_BYTES || header[0] != 0x7f
                || header[1] != 'E' || header[2] != 'L' || header[3] != 'F') {
            return null;
        }
        boolean elf32LittleEndian = header[4] == 1 && header[5] == 1;
        if (!elf32LittleEndian || littleEndian(header, 18, 2) != EM_ARM) {
            return null;
        }
        return (littleEndian(header, 36, 4) & EF_ARM_ABI_FLOAT_HARD) != 0 ? HARD_FLOAT : SOFT_FLOAT;
    }

    // --- Helpers ---------------------------------------------------------------------------------

    private String archFamily() {
        if (osArch == null) {
            return null;
        }
        String arch = osArch.toLowerCase(Locale.ROOT);
        if (arch.equals("amd64") || arch.equals("x86_64") || arch.equals("x86-64")) {
            // A 32-bit JVM reports its own model; it loads only a 32-bit library.
            return "32".equals(dataModel) ? "x86" : "x86_64";
        }
        if (arch.equals("x86") || arch.matches("i[3-6]86")) {
            return "x86";
        }
        if (arch.equals("aarch64") || arch.equals("arm64")) {
            return "aarch64";
        }
        if (isArm32(arch)) {
            // Only a hard-float process can load the hard-float library. When the float ABI could
            // not be read, hard float is by far the likelier (Debian and Raspberry Pi OS armhf);
            // a soft-float process then gets the dynamic linker's refusal, which names the reason.
            return SOFT_FLOAT.equals(floatAbi) ? null : "armhf";
        }
        return null;
    }

    private static boolean isArm32(String osArch) {
        if (osArch == null) {
            return false;
        }
        String arch = osArch.toLowerCase(Locale.ROOT);
        return arch.equals("arm") || arch.equals("aarch32") || arch.matches("armv[5-8][a-z]*")
                || arch.equals("armhf") || arch.equals("armel");
    }

    private static String osFamily(String osName) {
        if (osName == null) {
            return null;
        }
        String name = osName.toLowerCase(Locale.ROOT);
        if (name.startsWith("windows")) {
            return "windows";
        }
        return name.startsWith("linux") ? "linux" : null;
    }

    /** The float ABI of the running program (java, or whatever program started the JVM). */
    private static String floatAbiOfThisProcess() {
        byte[] header = new byte[ELF_HEADER_BYTES];
        try {
            InputStream in = new FileInputStream("/proc/self/exe");
            try {
                int filled = 0;
                while (filled < header.length) {
                    int n = in.read(header, filled, header.length - filled);
                    if (n < 0) {
                        break;
                    }
                    filled += n;
                }
            } finally {
                in.close();
            }
        } catch (IOException | SecurityException e) {
            return floatAbiOfProperty();
        }
        String abi = floatAbiOfElf(header);
        return abi != null ? abi : floatAbiOfProperty();
    }

    /** Some JVMs for ARM name their ABI: gnueabihf, gnueabi. */
    private static String floatAbiOfProperty() {
        String abi = System.getProperty("sun.arch.abi", "");
        if (abi.isEmpty()) {
            return null;
        }
        return abi.endsWith("hf") ? HARD_FLOAT : SOFT_FLOAT;
    }

    private static long littleEndian(byte[] bytes, int offset, int length) {
        long value = 0;
        for (int i = length - 1; i >= 0; i--) {
            value = (value << 8) | (bytes[offset + i] & 0xff);
        }
        return value;
    }
}
