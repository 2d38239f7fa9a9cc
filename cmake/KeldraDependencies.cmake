find_package(Qt6 6.2 REQUIRED COMPONENTS Core Gui Widgets Network Test)
# Optional: lets the window lock the vault when the session locks or the computer sleeps.
if(NOT WIN32)
  find_package(Qt6 6.2 QUIET COMPONENTS DBus)
endif()
find_package(PkgConfig REQUIRED)
pkg_check_modules(SODIUM REQUIRED IMPORTED_TARGET libsodium)
if(WIN32)
  # The Windows build links libsodium statically; without this its headers ask for a DLL.
  set_property(TARGET PkgConfig::SODIUM APPEND PROPERTY INTERFACE_COMPILE_DEFINITIONS SODIUM_STATIC)
  set(OPENSSL_USE_STATIC_LIBS TRUE)
endif()
find_package(OpenSSL REQUIRED)
# Update packages are read with libzip, never by an external unzip.
pkg_check_modules(LIBZIP REQUIRED IMPORTED_TARGET libzip)
if(WIN32)
  # Static as well: its own dependencies come along by hand (zlib, Windows' random source).
  set_property(TARGET PkgConfig::LIBZIP APPEND PROPERTY INTERFACE_COMPILE_DEFINITIONS ZIP_STATIC)
  set_property(TARGET PkgConfig::LIBZIP APPEND PROPERTY INTERFACE_LINK_LIBRARIES z bcrypt advapi32)
endif()
