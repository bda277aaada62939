# Read by cpack before it makes each package.

# Every time stamp in a package is the source's, unless SOURCE_DATE_EPOCH
# is set already, so that the same source packaged anywhere, at any time,
# gives the same package to the bit.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  include(${CMAKE_CURRENT_LIST_DIR}/source-date-epoch.cmake)
  set(ENV{SOURCE_DATE_EPOCH} "${MORVANE_SOURCE_DATE}")
endif()

# dpkg-shlibdeps knows this machine's libraries only: a cross-built .deb
# depends on the C library version that its binary asks for.
if(CPACK_MORVANE_OBJDUMP)
  execute_process(COMMAND "${CPACK_MORVANE_OBJDUMP}" -T "${CPACK_MORVANE_BINARY}"
    OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX MATCHALL "GLIBC_[0-9.]+" versions "${symbols}")
  list(TRANSFORM versions REPLACE "GLIBC_" "")
  list(SORT versions COMPARE NATURAL ORDER DESCENDING)
  list(GET versions 0 newest)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= ${newest})")
endif()
