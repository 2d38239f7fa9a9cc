# One INTERFACE target that every Keldra target links: warnings, Qt hygiene and the version header.
add_library(keldra_options INTERFACE)
target_compile_options(keldra_options INTERFACE -Wall -Wextra)
target_compile_definitions(keldra_options INTERFACE
  QT_NO_CAST_TO_ASCII
  QT_NO_CAST_FROM_BYTEARRAY
  QT_NO_URL_CAST_FROM_STRING
  QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
  QT_NO_FOREACH
  QT_NO_JAVA_STYLE_ITERATORS
  QT_DISABLE_DEPRECATED_BEFORE=0x060000)

# KeldraVersion.h: the programs' version, from project(VERSION).
configure_file(${CMAKE_CURRENT_LIST_DIR}/KeldraVersion.h.in ${PROJECT_BINARY_DIR}/generated/KeldraVersion.h @ONLY)
target_include_directories(keldra_options INTERFACE ${PROJECT_BINARY_DIR}/generated)

if(KELDRA_SANITIZE)
  set(_keldra_san -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_compile_options(keldra_options INTERFACE ${_keldra_san})
  target_link_options(keldra_options INTERFACE ${_keldra_san})
endif()
