# The time stamp of every file in a package: the commit's; in a source tree
# without its history (a release tarball), the newest changelog entry's, as
# dpkg takes it.  Included by cpack-config.cmake with
# CPACK_MORVANE_SOURCE_DIR set; packaging/build runs it with -P and reads it.
if(NOT CPACK_MORVANE_SOURCE_DIR)
  get_filename_component(CPACK_MORVANE_SOURCE_DIR "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
endif()
execute_process(COMMAND git log -1 --format=%ct WORKING_DIRECTORY "${CPACK_MORVANE_SOURCE_DIR}"
  OUTPUT_VARIABLE MORVANE_SOURCE_DATE OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET
  RESULT_VARIABLE failed)
if(failed OR NOT MORVANE_SOURCE_DATE)
  file(STRINGS "${CPACK_MORVANE_SOURCE_DIR}/packaging/changelog" stamps REGEX "^ -- ")
  list(GET stamps 0 stamp)
  string(REGEX REPLACE "^ -- .*>  " "" stamp "${stamp}")
  execute_process(COMMAND date -d "${stamp}" +%s OUTPUT_VARIABLE MORVANE_SOURCE_DATE
    OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
endif()
if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  execute_process(COMMAND "${CMAKE_COMMAND}" -E echo "${MORVANE_SOURCE_DATE}")
endif()
