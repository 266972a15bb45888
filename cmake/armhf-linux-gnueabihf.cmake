# SPDX-License-Identifier: BSD-3-Clause
# Cross build for 32-bit ARM (armhf) with Debian's cross toolchain
# (crossbuild-essential-armhf) against the :armhf development packages,
# tests run under qemu-user. A vendor's own toolchain file needs the same:
# the compilers, where the target's libraries and pkg-config files are, and
# (to run the tests) an emulator or the board itself.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(DS_CROSS_TRIPLET arm-linux-gnueabihf)

set(CMAKE_C_COMPILER ${DS_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${DS_CROSS_TRIPLET}-g++)
# Debian multiarch: the target's libraries live in /usr/lib/<triplet>.
set(CMAKE_LIBRARY_ARCHITECTURE ${DS_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/${DS_CROSS_TRIPLET}/pkgconfig:/usr/share/pkgconfig")

# Tests and test discovery run the target's programs under qemu-user (no
# binfmt_misc needed). The programs link the multiarch :armhf libraries, so
# they must run on the multiarch C library and its own loader: the prefix is
# the root. /usr/<triplet> would give them the cross toolchain's loader
# (libc6-armhf-cross, an older build) with the multiarch libc, and that pair
# crashes every forked child (SIGSEGV right after fork, any program).
set(DS_QEMU_LD_PREFIX /)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/env QEMU_LD_PREFIX=${DS_QEMU_LD_PREFIX} /usr/bin/qemu-arm-static)
