# Writes the source file that names the commit a build comes from, and
# rewrites it only when the commit changed, so that a build at the same
# commit compiles nothing again.
#   cmake -DSOURCE_DIR=<tree> -DOUT=<file.cpp> [-DCOMMIT=<text>] -P write-version.cmake
# Without COMMIT the commit is asked of git (12 hex digits, "+" when the work
# tree has changes); outside a git tree it is "unknown".
if(NOT COMMIT)
  find_package(Git QUIET)
  if(GIT_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} -C ${SOURCE_DIR} rev-parse --short=12 HEAD
                    OUTPUT_VARIABLE COMMIT OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE failed)
    if(failed)
      set(COMMIT "")
    else()
      execute_process(COMMAND ${GIT_EXECUTABLE} -C ${SOURCE_DIR} diff --quiet HEAD --
                      RESULT_VARIABLE changed OUTPUT_QUIET ERROR_QUIET)
      if(changed)
        string(APPEND COMMIT "+")
      endif()
    endif()
  endif()
endif()
if(NOT COMMIT)
  set(COMMIT unknown)
endif()
set(text "// Written by cmake/write-version.cmake at build time.\n#include \"common/version.h\"\n\nconst char* tremcvt::buildCommit() { return \"${COMMIT}\"; }\n")
if(EXISTS ${OUT})
  file(READ ${OUT} old)
endif()
if(NOT old STREQUAL text)
  file(WRITE ${OUT} "${text}")
endif()
