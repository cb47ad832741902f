# SPDX-License-Identifier: GPL-3.0-or-later
# Shared by the toolchain files: Debian's cross compiler for CARNOVO_TRIPLET and
# the libraries of that architecture installed beside the build machine's own
# (multiarch). Qt's code generators (moc, rcc, uic) stay the build machine's.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${CARNOVO_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${CARNOVO_TRIPLET}-g++)

# No sysroot: the target's libraries and CMake packages are found in
# /usr/lib/<triplet> by the library architecture, pkg-config only looks there.
set(CMAKE_LIBRARY_ARCHITECTURE ${CARNOVO_TRIPLET})
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${CARNOVO_TRIPLET}/pkgconfig:/usr/share/pkgconfig)

set(QT_HOST_PATH /usr CACHE PATH "Where the build machine's Qt tools live")

# Test discovery and ctest run the target's programs under user-mode qemu;
# "-L /" lets it find the multiarch loader and libraries in their usual place.
find_program(CARNOVO_QEMU qemu-${CARNOVO_QEMU_ARCH}-static REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CARNOVO_QEMU} -L /)

# The Debian package's architecture, as dpkg names it.
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${CARNOVO_DEB_ARCH})
