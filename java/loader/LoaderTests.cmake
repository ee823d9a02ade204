# Tests of zelp.jar's loader. Each starts JVMs of its own with no
# -Djava.library.path, as an application would, and a scratch folder for the
# cache and temporary folders. Included by java/CMakeLists.txt after the
# Java tests jar is defined.
get_target_property(zelp_loader_jar zelp_jar JAR_FILE)
set(zelp_loader_scratch ${CMAKE_BINARY_DIR}/test/loader)

# The plain case, as a user types it: java -cp zelp.jar:program, a fresh cache.
# It must take this build's library out of the jar, among all the others.
add_test(NAME java_loader_fresh_jvm
  COMMAND ${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH
    XDG_CACHE_HOME=${zelp_loader_scratch}/fresh/cache
    ${ZELP_TEST_JAVA} -Xcheck:jni
      -Djava.io.tmpdir=${zelp_loader_scratch}/fresh/tmp
      -cp ${zelp_loader_jar}:${zelp_tests_jar_file}
      zelp.test.loader.ListPrinters)
set_tests_properties(java_loader_fresh_jvm PROPERTIES
  LABELS "java"
  TIMEOUT 120
  REQUIRED_FILES ${ZELP_TEST_JAVA_FILE}
  PASS_REGULAR_EXPRESSION "loaded from: the library in the jar \\(natives/${ZELP_JAR_SYSTEM}/"
  FAIL_REGULAR_EXPRESSION "${zelp_jni_check_messages};Exception")

if(CMAKE_CROSSCOMPILING)
  return()
endif()

# Every way and its fallbacks, each in a JVM of its own.
list(TRANSFORM ZELP_JAR_OTHER_NATIVES PREPEND "-Dzelp.test.native." OUTPUT_VARIABLE zelp_other_natives)
add_test(NAME java_loader
  COMMAND ${Java_JAVA_EXECUTABLE} -Xcheck:jni
    -Dzelp.test.jar=${zelp_loader_jar}
    -Dzelp.test.programjar=${zelp_tests_jar_file}
    -Dzelp.test.library=$<TARGET_FILE:LibIoZelp>
    -Dzelp.test.simlibrary=$<TARGET_FILE:LibIoZelp_sim>
    ${zelp_other_natives}
    -Dzelp.test.scratch=${zelp_loader_scratch}/cases
    -jar ${ZELP_JAVA_LIB_DIR}/junit-platform-console-standalone.jar
    --disable-banner --disable-ansi-colors --details=tree --details-theme=ascii
    --fail-if-no-tests
    -cp ${zelp_test_classpath}
    --scan-classpath ${zelp_tests_jar_file}
    --include-package zelp.test.loader)
set_tests_properties(java_loader PROPERTIES
  LABELS "java"
  TIMEOUT 300
  FAIL_REGULAR_EXPRESSION "${zelp_jni_check_messages}")
