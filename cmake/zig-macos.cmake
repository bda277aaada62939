# Cross-compiles and links morvane for macOS with zig's C++ compiler, which
# carries the macOS headers and the system library's stubs:
#   cmake -S . -B build-macos -DCMAKE_TOOLCHAIN_FILE=cmake/zig-macos.cmake
# -DMORVANE_MACOS_ARCH=x86_64 builds for Intel Macs (arm64 by default).
# zig is taken from $ZIG, else from PATH (scripts/zig fetches it).  What it
# builds links here; it cannot run here.  Warnings are errors.
set(CMAKE_SYSTEM_NAME Darwin)
set(MORVANE_MACOS_ARCH arm64 CACHE STRING "The Mac's processor: arm64 or x86_64")
set(CMAKE_SYSTEM_PROCESSOR ${MORVANE_MACOS_ARCH})
string(REPLACE arm64 aarch64 zig_arch ${MORVANE_MACOS_ARCH})

if(DEFINED ENV{ZIG})
  set(MORVANE_ZIG $ENV{ZIG} CACHE FILEPATH "zig")
else()
  find_program(MORVANE_ZIG NAMES zig REQUIRED)
endif()
# CMake takes a compiler as one program: zig's is "zig c++", and its linker
# refuses the -v that CMake passes it once to learn the compiler's ABI.
set(wrapper ${CMAKE_BINARY_DIR}/zig-c++-${zig_arch})
file(WRITE ${wrapper} "#!/bin/sh\nfor a; do shift; [ \"$a\" = -Wl,-v ] || set -- \"$@\" \"$a\"; done\n"
  "exec '${MORVANE_ZIG}' c++ -target ${zig_arch}-macos \"$@\"\n")
file(CHMOD ${wrapper} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
  WORLD_READ WORLD_EXECUTE)
set(CMAKE_CXX_COMPILER ${wrapper})
set(MORVANE_WARNINGS_ARE_ERRORS ON)
