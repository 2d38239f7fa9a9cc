# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 compilers. The -posix variants
# give std::thread and std::mutex, which Qt and our code need.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

# KELDRA_MINGW_PREFIX: the cache made by scripts/build-windows (static libsodium and OpenSSL
# in sysroot/, Qt in qt/). Without it only the compilers' own folder is searched.
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
if(KELDRA_MINGW_PREFIX)
  list(APPEND CMAKE_FIND_ROOT_PATH ${KELDRA_MINGW_PREFIX}/qt ${KELDRA_MINGW_PREFIX}/sysroot)
  set(ENV{PKG_CONFIG_LIBDIR} ${KELDRA_MINGW_PREFIX}/sysroot/lib/pkgconfig)
  set(ENV{PKG_CONFIG_PATH} "")
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KELDRA_MINGW_PREFIX)

# Programs (moc, rcc, pkg-config) come from the build machine; everything linked from the target.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
