# Installs corvex and corvex-render for the user and a desktop entry for corvex, run as
#   cmake -DCORVEX=<exe> -DRENDER=<exe> -DBIN_DIR=<dir> -DDESKTOP_DIR=<dir> -DDESKTOP_TEMPLATE=<file>
#         -DICON=<svg> -DICON_DIR=<hicolor theme dir> -P InstallApps.cmake
foreach(variable CORVEX RENDER BIN_DIR DESKTOP_DIR DESKTOP_TEMPLATE ICON ICON_DIR)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "InstallApps.cmake needs -D${variable}=...")
  endif()
endforeach()

file(MAKE_DIRECTORY "${BIN_DIR}" "${DESKTOP_DIR}")
foreach(program "${CORVEX}" "${RENDER}")
  get_filename_component(name "${program}" NAME)
  # A copy under a temporary name, then a rename: a running corvex keeps its old file.
  file(COPY_FILE "${program}" "${BIN_DIR}/.${name}.new")
  file(CHMOD "${BIN_DIR}/.${name}.new" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
       GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  file(RENAME "${BIN_DIR}/.${name}.new" "${BIN_DIR}/${name}")
endforeach()

file(MAKE_DIRECTORY "${ICON_DIR}/scalable/apps")
file(COPY_FILE "${ICON}" "${ICON_DIR}/scalable/apps/corvex.svg")
set(CORVEX_DESKTOP_EXEC "${BIN_DIR}/corvex")
configure_file("${DESKTOP_TEMPLATE}" "${DESKTOP_DIR}/corvex.desktop" @ONLY)
find_program(UPDATE_DESKTOP_DATABASE update-desktop-database)
if(UPDATE_DESKTOP_DATABASE)
  execute_process(COMMAND "${UPDATE_DESKTOP_DATABASE}" "${DESKTOP_DIR}" RESULT_VARIABLE ignored OUTPUT_QUIET ERROR_QUIET)
endif()

message(STATUS "corvex and corvex-render are installed in ${BIN_DIR}; \"Corvex\" is in the application menu")
set(on_path FALSE)
string(REPLACE ":" ";" path_entries "$ENV{PATH}")
foreach(entry IN LISTS path_entries)
  get_filename_component(entry "${entry}" ABSOLUTE)
  get_filename_component(bin "${BIN_DIR}" ABSOLUTE)
  if(entry STREQUAL bin)
    set(on_path TRUE)
  endif()
endforeach()
if(NOT on_path)
  message(STATUS "${BIN_DIR} is not on your PATH: add it (for example with "
                 "'export PATH=\"${BIN_DIR}:$PATH\"' in ~/.profile) to run corvex by name")
endif()
