// Found before Qt's own header only when compiling keldra_core: every Qt Gui header includes it.
#error "keldra_core must not use Qt Gui: keep user-interface code in src/ui or src/config"
