# The desktop's view of the application: its desktop entry, the type of its
# settings files and its icon, installed with the program (`make install`,
# under ~/.local). The entry's Exec is the installed program's absolute path,
# written at install time from the prefix actually used
# (`cmake --install --prefix`), never the build tree.
include(GNUInstallDirs)

# The application's identifier (ProductBrand's bundle identifier; a test
# holds the two together) and the resource base GTK derives from it.
set(VELMORA_APP_ID "invalid.velmora.velmora")
set(VELMORA_RESOURCE_BASE "/invalid/velmora/velmora")
set(VELMORA_SETTINGS_TYPE_NAME "ベルモラ設定")
set(VELMORA_DATA ${PROJECT_SOURCE_DIR}/data)
set(VELMORA_DATA_OUT ${PROJECT_BINARY_DIR}/data)

# The icon compiled into the workspace library as a resource, registered by
# the application before its first window.
find_program(GLIB_COMPILE_RESOURCES glib-compile-resources REQUIRED)
configure_file(${VELMORA_DATA}/velmora.gresource.xml.in ${VELMORA_DATA_OUT}/velmora.gresource.xml @ONLY)
add_custom_command(
  OUTPUT ${VELMORA_DATA_OUT}/VelmoraResources.c
  COMMAND ${GLIB_COMPILE_RESOURCES} --target=${VELMORA_DATA_OUT}/VelmoraResources.c --generate-source
          --manual-register --c-name velmora --sourcedir=${VELMORA_DATA} ${VELMORA_DATA_OUT}/velmora.gresource.xml
  DEPENDS ${VELMORA_DATA_OUT}/velmora.gresource.xml ${VELMORA_DATA}/velmora.svg
  VERBATIM)
target_sources(velmora_workspace PRIVATE ${VELMORA_DATA_OUT}/VelmoraResources.c)

configure_file(${VELMORA_DATA}/velmora-settings.xml.in ${VELMORA_DATA_OUT}/${VELMORA_APP_ID}.xml @ONLY)
# The entry as the build tree's own program would be installed under the
# configured prefix: what the validity test reads.
set(VELMORA_EXEC "${CMAKE_INSTALL_FULL_BINDIR}/velmora")
configure_file(${VELMORA_DATA}/velmora.desktop.in ${VELMORA_DATA_OUT}/${VELMORA_APP_ID}.desktop @ONLY)

install(TARGETS velmora RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${VELMORA_DATA}/velmora.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps RENAME ${VELMORA_APP_ID}.svg)
install(FILES ${VELMORA_DATA_OUT}/${VELMORA_APP_ID}.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)
# The entry, then the databases the desktop reads: run at install time,
# where CMAKE_INSTALL_PREFIX is the prefix given to `cmake --install`.
install(CODE "
  set(VELMORA_APP_ID \"${VELMORA_APP_ID}\")
  set(VELMORA_ENTRY_TEMPLATE \"${VELMORA_DATA}/velmora.desktop.in\")
  set(VELMORA_ENTRY_STAGE \"${VELMORA_DATA_OUT}/install\")
  set(VELMORA_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
  set(VELMORA_DATADIR \"${CMAKE_INSTALL_DATADIR}\")
")
install(SCRIPT ${PROJECT_SOURCE_DIR}/cmake/InstallEntry.cmake)
