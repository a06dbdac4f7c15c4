# Version data of the program file: key=value lines in a section of their own (".sablewick_version"),
# added after every link and read back by GetFileVersionString / GetFileComments (product/versionInfo.h).
#
# This file serves twice: included from src/CMakeLists.txt it adds the build step; run as a script
# (cmake -P) by that step it writes the section's content, so the comment names the commit of each build.

if(CMAKE_SCRIPT_MODE_FILE)
  set(comments "")
  find_package(Git QUIET)
  if(GIT_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} -C ${SOURCE_DIR} rev-parse --short=12 HEAD
      OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE git_result)
    if(git_result EQUAL 0 AND commit)
      set(comments "${commit}")
    endif()
  endif()
  if(NOT comments)
    string(TIMESTAMP comments "%Y-%m-%d" UTC)
  endif()
  file(WRITE ${OUTPUT} "FileVersion=${VERSION}\nComments=${comments}\n")
  return()
endif()

if(NOT CMAKE_OBJCOPY)
  message(FATAL_ERROR "objcopy is needed to put the version data into the program file")
endif()
set(SABLEWICK_VERSION_DATA ${CMAKE_BINARY_DIR}/sablewick_version.txt)
add_custom_command(TARGET sablewick POST_BUILD
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DVERSION=${PROJECT_VERSION}
          -DOUTPUT=${SABLEWICK_VERSION_DATA} -P ${CMAKE_CURRENT_LIST_FILE}
  COMMAND ${CMAKE_OBJCOPY} --remove-section=.sablewick_version
          --add-section .sablewick_version=${SABLEWICK_VERSION_DATA}
          --set-section-flags .sablewick_version=noload,readonly $<TARGET_FILE:sablewick>
  COMMENT "Adding version data to the program file"
  VERBATIM)
