# SPDX-License-Identifier: GPL-3.0-or-later
# 64-bit ARM: Raspberry Pi OS 64-bit, Debian arm64.
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-aarch64-linux-gnu.cmake ...
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CARNOVO_TRIPLET aarch64-linux-gnu)
set(CARNOVO_QEMU_ARCH aarch64)
set(CARNOVO_DEB_ARCH arm64)
include(${CMAKE_CURRENT_LIST_DIR}/cross-debian.cmake)
