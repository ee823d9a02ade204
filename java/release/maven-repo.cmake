# Lays one version of an artifact out as a Maven repository does: the jar,
# its sources and Javadoc and the pom under <group path>/<artifact>/<version>/,
# the artifact's maven-metadata.xml, and beside every file its checksums.
#
#   cmake -DREPOSITORY=... -DGROUP_ID=... -DARTIFACT_ID=... -DVERSION=... -DJAR=...
#         -DSOURCES_JAR=... -DJAVADOC_JAR=... -DPOM=... -P maven-repo.cmake
cmake_minimum_required(VERSION 3.25)

foreach(required REPOSITORY GROUP_ID ARTIFACT_ID VERSION JAR SOURCES_JAR JAVADOC_JAR POM)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "maven-repo: ${required} is not set")
  endif()
endforeach()

function(zelp_write_checksums file)
  foreach(algorithm MD5 SHA1 SHA256 SHA512)
    file(${algorithm} "${file}" hash)
    string(TOLOWER ${algorithm} extension)
    file(WRITE "${file}.${extension}" "${hash}")
  endforeach()
endfunction()

string(REPLACE "." "/" group_path "${GROUP_ID}")
set(artifact_dir "${REPOSITORY}/${group_path}/${ARTIFACT_ID}")
set(base "${artifact_dir}/${VERSION}/${ARTIFACT_ID}-${VERSION}")
# One version per build: what an earlier build laid out goes.
file(REMOVE_RECURSE "${artifact_dir}")
file(MAKE_DIRECTORY "${artifact_dir}/${VERSION}")
foreach(pair "JAR;.jar" "SOURCES_JAR;-sources.jar" "JAVADOC_JAR;-javadoc.jar" "POM;.pom")
  list(GET pair 0 input)
  list(GET pair 1 suffix)
  file(COPY_FILE "${${input}}" "${base}${suffix}")
  zelp_write_checksums("${base}${suffix}")
endforeach()

# The time of the commit (SOURCE_DATE_EPOCH, which string(TIMESTAMP) honours);
# without one, the date ReproducibleJar gives the jars' entries.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  string(TIMESTAMP updated "%Y%m%d%H%M%S" UTC)
else()
  set(updated 19800201000000)
endif()
file(WRITE "${artifact_dir}/maven-metadata.xml" "<?xml version=\"1.0\" encoding=\"UTF-8\"?>
<metadata>
  <groupId>${GROUP_ID}</groupId>
  <artifactId>${ARTIFACT_ID}</artifactId>
  <versioning>
    <latest>${VERSION}</latest>
    <release>${VERSION}</release>
    <versions>
      <version>${VERSION}</version>
    </versions>
    <lastUpdated>${updated}</lastUpdated>
  </versioning>
</metadata>
")
zelp_write_checksums("${artifact_dir}/maven-metadata.xml")
message(STATUS "maven-repo: ${GROUP_ID}:${ARTIFACT_ID}:${VERSION} in ${REPOSITORY}")
