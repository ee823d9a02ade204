package zelp.test.loader;

import java.io.File;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.concurrent.TimeUnit;

/**
 * One run of {@link ListPrinters} in a JVM of its own, as an application starts: zelp.jar and the
 * program on the class path, no {@code -Djava.library.path}, no {@code LD_LIBRARY_PATH}.
 */
final class JvmRun {
    static final String JAR = System.getProperty("zelp.test.jar");
    static final String PROGRAM_JAR = System.getProperty("zelp.test.programjar");

    private final List<String> wrapper = new ArrayList<>();
    private final List<String> jvmOptions = new ArrayList<>();
    private final Map<String, String> environment = new HashMap<>();
    private final List<String> unset = new ArrayList<>();

    int exitCode;
    String out;
    String err;

    /** Runs the JVM under another program, such as unshare. */
    JvmRun under(List<String> command) {
        wrapper.addAll(command);
        return this;
    }

    JvmRun option(String option) {
        jvmOptions.add(option);
        return this;
    }

    JvmRun env(String name, String value) {
        environment.put(name, value);
        return this;
    }

    JvmRun withoutEnv(String name) {
        unset.add(name);
        return this;
    }

    JvmRun run(Path logs) throws IOException, InterruptedException {
        List<String> command = new ArrayList<>(wrapper);
        command.add(System.getProperty("java.home") + File.separator + "bin" + File.separator + "java");
        command.add("-Xcheck:jni");
        command.addAll(jvmOptions);
        command.add("-cp");
        command.add(JAR + File.pathSeparator + PROGRAM_JAR);
        command.add(ListPrinters.class.getName());

        ProcessBuilder builder = new ProcessBuilder(command);
        builder.environment().remove("LD_LIBRARY_PATH");
        builder.environment().remove("JAVA_TOOL_OPTIONS");
        unset.forEach(builder.environment()::remove);
        builder.environment().putAll(environment);
        Files.createDirectories(logs);
        Path outFile = logs.resolve("stdout.txt");
        Path errFile = logs.resolve("stderr.txt");
        builder.redirectOutput(outFile.toFile()).redirectError(errFile.toFile());
        Process process = builder.start();
        // Only a bound against a hung build; a run takes about a second.
        if (!process.waitFor(120, TimeUnit.SECONDS)) {
            process.destroyForcibly();
            throw new IllegalStateException("the JVM did not end: " + command);
        }
        exitCode = process.exitValue();
        out = Files.readString(outFile, StandardCharsets.UTF_8);
        err = Files.readString(errFile, StandardCharsets.UTF_8);
        return this;
    }

    /** The value of an output line "name: value", or null. */
    String line(String name) {
        for (String line : out.split("\\R")) {
            if (line.startsWith(name + ": ")) {
                return line.substring(name.length() + 2);
            }
        }
        return null;
    }

    List<String> lines(String name) {
        List<String> values = new ArrayList<>();
        for (String line : out.split("\\R")) {
            if (line.startsWith(name + ": ")) {
                values.add(line.substring(name.length() + 2));
            }
        }
        return values;
    }

    String transcript() {
        return "exit " + exitCode + "\n--- stdout\n" + out + "--- stderr\n" + err;
    }
}
