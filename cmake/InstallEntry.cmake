# Install-time half of cmake/Install.cmake: writes the desktop entry with the
# installed program's path under the prefix of this install, then refreshes
# the MIME and desktop databases of that prefix's data folder.
set(VELMORA_EXEC "${CMAKE_INSTALL_PREFIX}/${VELMORA_BINDIR}/velmora")
# A path the desktop would split or expand is quoted as the entry format
# asks: inside the quotes " ` $ and \ take a backslash, and every backslash
# is doubled once more for the string value.
if(NOT VELMORA_EXEC MATCHES "^[A-Za-z0-9/._+-]+$")
  string(REPLACE "\\" "\\\\\\\\" quoted "${VELMORA_EXEC}")
  string(REGEX REPLACE "([\"`$])" "\\\\\\\\\\1" quoted "${quoted}")
  set(VELMORA_EXEC "\"${quoted}\"")
endif()
string(REPLACE "%" "%%" VELMORA_EXEC "${VELMORA_EXEC}")
configure_file("${VELMORA_ENTRY_TEMPLATE}" "${VELMORA_ENTRY_STAGE}/${VELMORA_APP_ID}.desktop" @ONLY)
file(INSTALL "${VELMORA_ENTRY_STAGE}/${VELMORA_APP_ID}.desktop"
     DESTINATION "${CMAKE_INSTALL_PREFIX}/${VELMORA_DATADIR}/applications")

# A staged install (DESTDIR) leaves the refresh to the package's own.
if("$ENV{DESTDIR}" STREQUAL "")
  set(data "${CMAKE_INSTALL_PREFIX}/${VELMORA_DATADIR}")
  find_program(VELMORA_UPDATE_MIME update-mime-database)
  find_program(VELMORA_UPDATE_DESKTOP update-desktop-database)
  if(NOT VELMORA_UPDATE_MIME OR NOT VELMORA_UPDATE_DESKTOP)
    message(FATAL_ERROR "update-mime-database or update-desktop-database missing: run scripts/install-deps")
  endif()
  execute_process(COMMAND "${VELMORA_UPDATE_MIME}" "${data}/mime" COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND "${VELMORA_UPDATE_DESKTOP}" "${data}/applications" COMMAND_ERROR_IS_FATAL ANY)
endif()
