// Found before Qt's own header only when compiling keldra_core: every Qt Widgets header includes it.
#error "keldra_core must not use Qt Widgets: keep user-interface code in src/ui or src/config"
