find_package(Qt6 6.2 REQUIRED COMPONENTS Core Gui Widgets Network Test)
find_package(PkgConfig REQUIRED)
pkg_check_modules(SODIUM REQUIRED IMPORTED_TARGET libsodium)
find_package(OpenSSL REQUIRED)
# Update packages are read with libzip, never by an external unzip.
pkg_check_modules(LIBZIP REQUIRED IMPORTED_TARGET libzip)
