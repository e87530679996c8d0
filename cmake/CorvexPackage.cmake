# The packages users install: on Linux a Debian package (cmake --workflow --preset package), on
# Windows an NSIS installer and a .zip of the bundle. Their files are the "system" component,
# left out of a plain `cmake --install`, which installs for the user (see plugin/CMakeLists.txt).
set(CPACK_PACKAGE_NAME "corvex")
set(CPACK_PACKAGE_VENDOR "Corvex Audio")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "guitar amplifier and effects, as VST 3 and LV2 plug-ins and a JACK/ALSA player")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://corvex.example.org")
set(CPACK_PACKAGE_CONTACT "Corvex Audio <contact@corvex.example.org>")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_COMPONENTS_ALL system)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX "${CMAKE_BINARY_DIR}/packages")

if(NOT WIN32)
  include(GNUInstallDirs)
  set(_install system EXCLUDE_FROM_ALL)
  # Where hosts and desktops look on Debian: /usr/lib/vst3, /usr/lib/lv2, /usr/share/vst3/presets.
  # The bundles' shared objects go in as targets, so the package strips them.
  get_target_property(_vst3_binary_dir Corvex LIBRARY_OUTPUT_DIRECTORY)
  get_filename_component(_vst3_arch "${_vst3_binary_dir}" NAME)
  install(TARGETS Corvex LIBRARY DESTINATION lib/vst3/Corvex.vst3/Contents/${_vst3_arch} COMPONENT ${_install})
  if(TARGET corvex_vst3_presets)
    install(DIRECTORY "${CORVEX_VST3_PRESETS_ROOT}/" DESTINATION share/vst3/presets COMPONENT ${_install})
  endif()
  if(TARGET corvex_lv2)
    set(_lv2_targets corvex_lv2)
    if(TARGET corvex_lv2_ui)
      list(APPEND _lv2_targets corvex_lv2_ui)
    endif()
    install(TARGETS ${_lv2_targets} LIBRARY DESTINATION lib/lv2/Corvex.lv2 COMPONENT ${_install})
    install(DIRECTORY "${CORVEX_LV2_BUNDLE_DIR}/" DESTINATION lib/lv2/Corvex.lv2 COMPONENT ${_install}
      FILES_MATCHING PATTERN "*.ttl")
  endif()
  set(_programs)
  foreach(program corvex corvex-render)
    if(TARGET ${program})
      list(APPEND _programs ${program})
    endif()
  endforeach()
  install(TARGETS ${_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${_install})
  if(TARGET corvex)
    set(CORVEX_DESKTOP_EXEC corvex)
    configure_file("${PROJECT_SOURCE_DIR}/apps/corvex/corvex.desktop.in" "${CMAKE_BINARY_DIR}/package/corvex.desktop" @ONLY)
    install(FILES "${CMAKE_BINARY_DIR}/package/corvex.desktop" DESTINATION share/applications COMPONENT ${_install})
    install(FILES "${PROJECT_SOURCE_DIR}/apps/corvex/corvex.svg" DESTINATION share/icons/hicolor/scalable/apps
      COMPONENT ${_install})
  endif()

  # The manual pages, written by help2man from each program's --help and --version.
  find_program(CORVEX_HELP2MAN help2man)
  set(_summary_corvex "play a guitar through the Corvex amplifier live, on JACK or ALSA")
  set(_summary_corvex-render "render audio files through the Corvex plug-in")
  if(CORVEX_HELP2MAN)
    set(_pages)
    foreach(program IN LISTS _programs)
      set(_page "${CMAKE_BINARY_DIR}/package/${program}.1")
      # A cross build's program answers through its emulator, from a script help2man can run.
      set(_run_program $<TARGET_FILE:${program}>)
      if(CMAKE_CROSSCOMPILING_EMULATOR)
        set(_run_program "${CMAKE_BINARY_DIR}/package/emulated/${program}")
        list(JOIN CMAKE_CROSSCOMPILING_EMULATOR " " _emulator)
        file(GENERATE OUTPUT "${_run_program}"
          CONTENT "#!/bin/sh\nexec ${_emulator} \"$<TARGET_FILE:${program}>\" \"$@\"\n"
          FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
      endif()
      add_custom_command(OUTPUT "${_page}.gz"
        COMMAND "${CORVEX_HELP2MAN}" --no-info --section=1 "--name=${_summary_${program}}" --output=${_page}
                "${_run_program}"
        COMMAND gzip -9nf "${_page}"
        DEPENDS ${program}
        COMMENT "Writing the manual page of ${program}"
        VERBATIM)
      list(APPEND _pages "${_page}.gz")
    endforeach()
    add_custom_target(corvex-manual-pages ALL DEPENDS ${_pages})
    install(FILES ${_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${_install})
  else()
    install(CODE "message(FATAL_ERROR \"The package's manual pages need help2man (scripts/setup.sh --tests)\")"
      COMPONENT ${_install})
  endif()

  # Debian's copyright file and changelog.
  set(_changelog "${CMAKE_BINARY_DIR}/package/changelog.gz")
  string(TIMESTAMP _date "%a, %d %b %Y %H:%M:%S +0000" UTC)
  file(WRITE "${CMAKE_BINARY_DIR}/package/changelog"
    "corvex (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
    "  * Corvex ${PROJECT_VERSION}.\n\n"
    " -- ${CPACK_PACKAGE_CONTACT}  ${_date}\n")
  add_custom_command(OUTPUT "${_changelog}"
    COMMAND gzip -9nc "${CMAKE_BINARY_DIR}/package/changelog" > "${_changelog}"
    DEPENDS "${CMAKE_BINARY_DIR}/package/changelog"
    VERBATIM)
  add_custom_target(corvex-changelog ALL DEPENDS "${_changelog}")
  install(FILES "${PROJECT_SOURCE_DIR}/packaging/copyright" "${_changelog}" DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/corvex
    COMPONENT ${_install})

  # Debian's name for the target's architecture.
  if(CMAKE_CROSSCOMPILING AND CMAKE_SYSTEM_PROCESSOR STREQUAL "aarch64")
    set(_arch arm64)
  else()
    execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE _arch OUTPUT_STRIP_TRAILING_WHITESPACE
      ERROR_QUIET)
  endif()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE "${_arch}")
  set(CPACK_DEBIAN_FILE_NAME "corvex_${PROJECT_VERSION}_${_arch}.deb")
  set(CORVEX_DEB_PACKAGE "${CPACK_OUTPUT_FILE_PREFIX}/${CPACK_DEBIAN_FILE_NAME}")
  set(CPACK_DEBIAN_PACKAGE_SECTION sound)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  if(TARGET corvex)
    set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "Corvex is a guitar amplifier and effects processor: gate/compressor,\n"
      "distortion, speaker cabinet, chorus, tempo-synced delay, reverb and an\n"
      "output limiter behind an amp-panel editor. This package holds the VST 3\n"
      "and LV2 plug-ins with their factory presets, corvex (play live on JACK or\n"
      "ALSA) and corvex-render (render audio files offline).")
  else()
    # The headless build, for pedalboards and boards without a desktop.
    set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "guitar amplifier and effects, as headless VST 3 and LV2 plug-ins")
    set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "Corvex is a guitar amplifier and effects processor: gate/compressor,\n"
      "distortion, speaker cabinet, chorus, tempo-synced delay, reverb and an\n"
      "output limiter. This package holds the VST 3 and LV2 plug-ins without\n"
      "their editor, for pedalboard hosts, with their factory presets, and\n"
      "corvex-render (render audio files offline).")
  endif()
  string(REPLACE ";" "" CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")

  # The two bundles, stripped, in a tarball for boards and hosts that take plug-ins as files
  # (unpacked into ~/.vst3 and ~/.lv2, or a device's plug-in folder).
  set(CORVEX_BUNDLES_TARBALL "${CPACK_OUTPUT_FILE_PREFIX}/corvex-bundles_${PROJECT_VERSION}_${_arch}.tar.gz"
    CACHE INTERNAL "")
  if(TARGET corvex_lv2 AND CMAKE_STRIP)
    set(_stage "${CMAKE_BINARY_DIR}/package/bundles")
    add_custom_command(OUTPUT "${CORVEX_BUNDLES_TARBALL}"
      COMMAND "${CMAKE_COMMAND}" -E rm -rf "${_stage}"
      COMMAND "${CMAKE_COMMAND}" -E copy_directory "${CORVEX_BUNDLE_DIR}" "${_stage}/Corvex.vst3"
      COMMAND "${CMAKE_COMMAND}" -E copy_directory "${CORVEX_LV2_BUNDLE_DIR}" "${_stage}/Corvex.lv2"
      COMMAND "${CMAKE_STRIP}" --strip-unneeded "${_stage}/Corvex.vst3/Contents/${_vst3_arch}/Corvex.so"
              "${_stage}/Corvex.lv2/$<TARGET_FILE_NAME:corvex_lv2>"
      COMMAND "${CMAKE_COMMAND}" -E make_directory "${CPACK_OUTPUT_FILE_PREFIX}"
      COMMAND "${CMAKE_COMMAND}" -E chdir "${_stage}" "${CMAKE_COMMAND}" -E tar czf "${CORVEX_BUNDLES_TARBALL}"
              Corvex.vst3 Corvex.lv2
      DEPENDS Corvex ${_lv2_targets}
      COMMENT "Packing Corvex.vst3 and Corvex.lv2 into ${CORVEX_BUNDLES_TARBALL}"
      VERBATIM)
    add_custom_target(corvex-bundles DEPENDS "${CORVEX_BUNDLES_TARBALL}")
  endif()
else()
  # Windows: a .zip of the bundle for copying by hand, and Corvex-<version>-setup.exe (NSIS; makensis
  # runs on the build machine, Debian's package "nsis"). The presets come from the native build,
  # as the generator runs only there.
  set(CORVEX_LINUX_VST3_PRESETS "" CACHE PATH
    "The .vstpreset tree the Linux build wrote (build/release/vst3-presets), for the installer")
  set(_packages "${CMAKE_BINARY_DIR}/packages")
  set(CORVEX_BUNDLE_ZIP "${_packages}/Corvex-${PROJECT_VERSION}-windows-x64.zip" CACHE INTERNAL "")
  add_custom_command(OUTPUT "${CORVEX_BUNDLE_ZIP}"
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${_packages}"
    COMMAND "${CMAKE_COMMAND}" -E tar cf "${CORVEX_BUNDLE_ZIP}" --format=zip Corvex.vst3
    WORKING_DIRECTORY "${CMAKE_BINARY_DIR}"
    DEPENDS Corvex
    COMMENT "Packing Corvex.vst3 into ${CORVEX_BUNDLE_ZIP}"
    VERBATIM)
  set(_windows_packages "${CORVEX_BUNDLE_ZIP}")
  find_program(CORVEX_MAKENSIS makensis)
  if(CORVEX_MAKENSIS AND CORVEX_LINUX_VST3_PRESETS)
    set(CORVEX_INSTALLER "${_packages}/Corvex-${PROJECT_VERSION}-setup.exe" CACHE INTERNAL "")
    set(CORVEX_NSIS_PRESETS "${CMAKE_BINARY_DIR}/package/presets.nsh")
    configure_file("${PROJECT_SOURCE_DIR}/packaging/corvex.nsi.in" "${CMAKE_BINARY_DIR}/package/corvex.nsi" @ONLY)
    add_custom_command(OUTPUT "${CORVEX_INSTALLER}"
      COMMAND "${CMAKE_COMMAND}" -DPRESETS_ROOT=${CORVEX_LINUX_VST3_PRESETS} -DOUTPUT=${CORVEX_NSIS_PRESETS}
              -P "${PROJECT_SOURCE_DIR}/packaging/WriteNsisPresets.cmake"
      COMMAND "${CMAKE_COMMAND}" -E make_directory "${_packages}"
      COMMAND "${CORVEX_MAKENSIS}" -V2 -NOCD "${CMAKE_BINARY_DIR}/package/corvex.nsi"
      DEPENDS Corvex "${CMAKE_BINARY_DIR}/package/corvex.nsi" "${PROJECT_SOURCE_DIR}/packaging/WriteNsisPresets.cmake"
      COMMENT "Building the installer ${CORVEX_INSTALLER}"
      VERBATIM)
    list(APPEND _windows_packages "${CORVEX_INSTALLER}")
  else()
    message(STATUS "No Windows installer: it needs makensis (Debian's nsis) and CORVEX_LINUX_VST3_PRESETS")
  endif()
  add_custom_target(corvex-windows-packages ALL DEPENDS ${_windows_packages})
endif()

include(CPack)
