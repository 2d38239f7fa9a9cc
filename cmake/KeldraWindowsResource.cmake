# keldra_add_windows_resource(TARGET DESCRIPTION): the padlock icon and the version
# information Explorer shows, compiled into a Windows program.
function(keldra_add_windows_resource target description)
  set(KELDRA_ICON_PATH ${PROJECT_SOURCE_DIR}/resources/icons/Keldra.ico)
  set(KELDRA_FILE_DESCRIPTION "${description}")
  set(KELDRA_INTERNAL_NAME ${target})
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/resources/windows/Keldra.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
