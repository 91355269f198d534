# cmake --install: the programs, the plugin folder, the help text, the
# desktop entry and the icons in the hicolor theme.
include(GNUInstallDirs)

if(TARGET tarvix)
  install(TARGETS tarvix RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(TARGET tarvix-cli)
  install(TARGETS tarvix-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

if(TARVIX_GUI)
  # The program loads its plugins from plugins/ beside itself; whatever the
  # build put there goes along (nothing when no plugin was built).
  install(DIRECTORY ${CMAKE_BINARY_DIR}/plugins/ DESTINATION ${CMAKE_INSTALL_BINDIR}/plugins
          OPTIONAL USE_SOURCE_PERMISSIONS FILES_MATCHING PATTERN "*.so")

  install(FILES ${CMAKE_SOURCE_DIR}/resources/help.txt DESTINATION ${CMAKE_INSTALL_DATADIR}/tarvix)

  # The launcher starts the installed program by its full path, so a prefix
  # outside PATH works too. The prefix is known only when installing
  # (cmake --install --prefix), so the entry is written then.
  install(CODE "set(TARVIX_DESKTOP_IN \"${CMAKE_SOURCE_DIR}/resources/desktop/app.tarvix.Tarvix.desktop.in\")
set(TARVIX_DESKTOP_OUT \"${CMAKE_BINARY_DIR}/app.tarvix.Tarvix.desktop\")
set(TARVIX_BINDIR \"${CMAKE_INSTALL_BINDIR}\")")
  install(CODE [[
    if(IS_ABSOLUTE "${TARVIX_BINDIR}")
      set(TARVIX_EXEC "${TARVIX_BINDIR}/tarvix")
    else()
      set(TARVIX_EXEC "${CMAKE_INSTALL_PREFIX}/${TARVIX_BINDIR}/tarvix")
    endif()
    if(TARVIX_EXEC MATCHES " ")
      set(TARVIX_EXEC "\"${TARVIX_EXEC}\"")
    endif()
    configure_file("${TARVIX_DESKTOP_IN}" "${TARVIX_DESKTOP_OUT}" @ONLY)
  ]])
  install(FILES ${CMAKE_BINARY_DIR}/app.tarvix.Tarvix.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

  foreach(size 16 32 64 128 256)
    install(FILES ${CMAKE_SOURCE_DIR}/resources/icons/Trx_${size}x${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME app.tarvix.Tarvix.png)
  endforeach()
endif()
