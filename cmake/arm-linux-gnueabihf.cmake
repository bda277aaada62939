# Cross-builds morvane for 32-bit ARM Linux (Raspberry Pi systems, Debian
# armhf) with Debian's g++-arm-linux-gnueabihf:
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-gnueabihf.cmake
# With -DMORVANE_STATIC=ON it packages the .tar.gz and the armhf .deb.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR armhf)

find_program(CMAKE_CXX_COMPILER NAMES arm-linux-gnueabihf-g++ REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(MORVANE_QEMU NAMES qemu-arm-static qemu-arm)
if(MORVANE_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${MORVANE_QEMU} -L /usr/arm-linux-gnueabihf)
endif()
