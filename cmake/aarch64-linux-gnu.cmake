# Cross build for 64-bit ARM Linux with Debian's cross compiler and the arm64
# builds of the libraries installed beside the native ones (multiarch:
# tools/install-deps-arm64.sh). Programs built here run under qemu's user-mode
# emulator on the build machine: CTest and test discovery start them through it.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
# pkg-config's cross wrapper reads the arm64 .pc files only.
set(PKG_CONFIG_EXECUTABLE aarch64-linux-gnu-pkg-config CACHE FILEPATH "pkg-config for arm64")

find_program(QEMU_AARCH64 qemu-aarch64)
if(QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QEMU_AARCH64})
endif()
