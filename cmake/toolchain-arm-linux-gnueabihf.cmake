# SPDX-License-Identifier: GPL-3.0-or-later
# 32-bit ARM with hardware floating point: Raspberry Pi OS 32-bit, Debian armhf.
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-arm-linux-gnueabihf.cmake ...
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CARNOVO_TRIPLET arm-linux-gnueabihf)
set(CARNOVO_QEMU_ARCH arm)
set(CARNOVO_DEB_ARCH armhf)
include(${CMAKE_CURRENT_LIST_DIR}/cross-debian.cmake)
