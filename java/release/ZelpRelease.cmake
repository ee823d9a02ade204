# The versioned release that Java projects depend on, laid out as a Maven
# repository under build/<preset>/maven/ (target zelp_release):
#
#   org/libiozelp/zelp/maven-metadata.xml
#   org/libiozelp/zelp/<version>/zelp-<version>.jar           zelp.jar as built
#   org/libiozelp/zelp/<version>/zelp-<version>-sources.jar   the product sources
#   org/libiozelp/zelp/<version>/zelp-<version>-javadoc.jar   the API of the two classes
#   org/libiozelp/zelp/<version>/zelp-<version>.pom
#
# each with its .md5, .sha1, .sha256 and .sha512. Every jar is written by
# ReproducibleJar, so a build with the same SOURCE_DATE_EPOCH (scripts/package
# takes the commit's time) gives the same bytes. Included by
# java/CMakeLists.txt after zelp.jar is defined.

# The pom names where the project lives. It has no public home yet: the
# defaults lie under .invalid, a name that never resolves, and must be set
# (-DZELP_PROJECT_URL=... -DZELP_SCM_URL=...) before anything is published.
set(ZELP_PROJECT_URL "https://libiozelp.invalid/"
    CACHE STRING "The project's home page, named in the pom (set it before publishing)")
set(ZELP_SCM_URL "https://libiozelp.invalid/libiozelp.git"
    CACHE STRING "The project's git repository, named in the pom (set it before publishing)")

set(zelp_release_dir ${CMAKE_CURRENT_BINARY_DIR}/release)
set(zelp_release_name ${ZELP_MAVEN_ARTIFACT_ID}-${PROJECT_VERSION})
configure_file(${CMAKE_CURRENT_LIST_DIR}/zelp.pom.in
  ${zelp_release_dir}/${zelp_release_name}.pom @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/MANIFEST.MF.in
  ${zelp_release_dir}/MANIFEST.MF @ONLY)
set(zelp_jar_tool_command ${Java_JAVA_EXECUTABLE} -cp ${ZELP_JAR_TOOL} zelp.build.ReproducibleJar)

# The jars below are dated SOURCE_DATE_EPOCH, which the build's environment
# gives: this file changes with it, and they depend on it.
set(zelp_source_date ${zelp_release_dir}/source-date-epoch)
add_custom_target(zelp_source_date
  COMMAND ${CMAKE_COMMAND} -DSTAMP=${zelp_source_date} -P ${CMAKE_CURRENT_LIST_DIR}/source-date.cmake
  BYPRODUCTS ${zelp_source_date}
  VERBATIM)

# The sources, as an IDE shows them beside the classes.
set(zelp_sources_jar ${zelp_release_dir}/${zelp_release_name}-sources.jar)
add_custom_command(OUTPUT ${zelp_sources_jar}
  COMMAND ${zelp_jar_tool_command} ${zelp_sources_jar}
    --manifest ${zelp_release_dir}/MANIFEST.MF
    --file META-INF/LICENSE=${PROJECT_SOURCE_DIR}/LICENSE
    --tree =${CMAKE_CURRENT_SOURCE_DIR}/src
  DEPENDS ${zelp_product_sources} ${ZELP_JAR_TOOL} ${PROJECT_SOURCE_DIR}/LICENSE
    ${zelp_release_dir}/MANIFEST.MF ${zelp_source_date}
  COMMENT "Packing ${zelp_release_name}-sources.jar"
  VERBATIM)

# The API applications use: the two classes. The loader is internal to the jar.
set(zelp_javadoc_dir ${CMAKE_CURRENT_BINARY_DIR}/javadoc)
set(zelp_javadoc_jar ${zelp_release_dir}/${zelp_release_name}-javadoc.jar)
add_custom_command(OUTPUT ${zelp_javadoc_jar}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${zelp_javadoc_dir}
  COMMAND ${Java_JAVADOC_EXECUTABLE} -quiet -notimestamp --release 8 -Xdoclint:all -Werror
    -windowtitle "${PROJECT_NAME} ${PROJECT_VERSION}"
    -doctitle "${PROJECT_NAME} ${PROJECT_VERSION}"
    -d ${zelp_javadoc_dir} -sourcepath ${CMAKE_CURRENT_SOURCE_DIR}/src
    com.quenrix.zel.comm dravn.usb
  COMMAND ${zelp_jar_tool_command} ${zelp_javadoc_jar}
    --manifest ${zelp_release_dir}/MANIFEST.MF
    --file META-INF/LICENSE=${PROJECT_SOURCE_DIR}/LICENSE
    --tree =${zelp_javadoc_dir}
  DEPENDS ${zelp_product_sources} ${ZELP_JAR_TOOL} ${PROJECT_SOURCE_DIR}/LICENSE
    ${zelp_release_dir}/MANIFEST.MF ${zelp_source_date}
  COMMENT "Writing the Javadoc and packing ${zelp_release_name}-javadoc.jar"
  VERBATIM)

# Runs at every build, after zelp.jar's own check of the libraries it carries.
get_target_property(zelp_release_jar zelp_jar JAR_FILE)
set(ZELP_MAVEN_REPOSITORY ${CMAKE_BINARY_DIR}/maven)
add_custom_target(zelp_release ${zelp_release_all}
  COMMAND ${CMAKE_COMMAND}
    -DREPOSITORY=${ZELP_MAVEN_REPOSITORY}
    -DGROUP_ID=${ZELP_MAVEN_GROUP_ID}
    -DARTIFACT_ID=${ZELP_MAVEN_ARTIFACT_ID}
    -DVERSION=${PROJECT_VERSION}
    -DJAR=${zelp_release_jar}
    -DSOURCES_JAR=${zelp_sources_jar}
    -DJAVADOC_JAR=${zelp_javadoc_jar}
    -DPOM=${zelp_release_dir}/${zelp_release_name}.pom
    -P ${CMAKE_CURRENT_LIST_DIR}/maven-repo.cmake
  DEPENDS ${zelp_sources_jar} ${zelp_javadoc_jar}
  COMMENT "Laying out ${ZELP_MAVEN_GROUP_ID}:${ZELP_MAVEN_ARTIFACT_ID}:${PROJECT_VERSION} in ${ZELP_MAVEN_REPOSITORY}"
  VERBATIM)
add_dependencies(zelp_release zelp_jar zelp_source_date)
