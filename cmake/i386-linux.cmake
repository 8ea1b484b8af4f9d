# Toolchain for 32-bit x86 Linux on a 64-bit Debian host: the host's GCC with
# -m32 (gcc-multilib, g++-multilib) and the libraries of Debian's multiarch
# i386 packages (libssl-dev:i386, zlib1g-dev:i386, libgtest-dev:i386,
# libwxgtk3.2-dev:i386, ...), which live under /usr/lib/i386-linux-gnu beside
# the host's own.
#
#   cmake -S . -B build/i386 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/i386-linux.cmake \
#     -DVIRELAN_BUILD_BENCH=OFF
#
# The programs run on the host itself (an x86-64 kernel runs i386 programs), so
# the tests run as they are, with no emulator.

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")

# find_library and find_package look in <prefix>/lib/i386-linux-gnu (and the
# packages' CMake configs under /usr/lib/i386-linux-gnu/cmake) before lib/.
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
# The host's x86-64 libraries sit under the same prefixes: never take one
# of them, since a library of the wrong architecture fails only at link time.
set(CMAKE_IGNORE_PATH /usr/lib/x86_64-linux-gnu /lib/x86_64-linux-gnu
    /usr/lib64 /lib64)

# pkg-config (used by find_package for some dependencies) reads the i386 .pc
# files only; otherwise it would hand out the host's x86-64 libraries.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/i386-linux-gnu/pkgconfig:/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

# wxWidgets: the i386 package's own wx-config (/usr/bin/wx-config is the host's).
set(wxWidgets_CONFIG_EXECUTABLE /usr/lib/i386-linux-gnu/wx/config/gtk3-unicode-3.2
    CACHE FILEPATH "wx-config of the i386 wxWidgets")
