# Cross-building for Debian arm64 on another Debian machine, with Debian's
# own cross tools: crossbuild-essential-arm64 for the compilers, the :arm64
# development packages installed side by side by multiarch (their libraries
# in /usr/lib/aarch64-linux-gnu, their headers shared in /usr/include), and
# qemu-user to run what was built (scripts/build.sh --arch arm64 installs
# them all).
#
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
# The multiarch cross wrapper reads the arm64 packages' .pc files only.
set(PKG_CONFIG_EXECUTABLE aarch64-linux-gnu-pkg-config CACHE FILEPATH "pkg-config for arm64")

# The build's own tools (quillbay-rc, quillbay-midl), the tests' discovery
# and the tests themselves are arm64 programs; there is no binfmt handler to
# start them, so CMake puts user-mode emulation in front. The root (-L /)
# is this machine's own: the multiarch loader and libraries under it are
# the arm64 packages'. The cross toolchain's folder alone
# (/usr/aarch64-linux-gnu) would pair its loader with the multiarch
# libc.so.6, which hangs any program that starts a thread.
find_program(QUILLBAY_QEMU_AARCH64 qemu-aarch64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${QUILLBAY_QEMU_AARCH64} -L /)

# Libraries, headers and CMake packages for the target only (multiarch puts
# them under the same root as the build machine's); programs from the build
# machine.
set(CMAKE_FIND_ROOT_PATH /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
