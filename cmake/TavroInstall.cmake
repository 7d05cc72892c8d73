# Where an installed tavro puts its files (relative to the install prefix), and the rules that
# put them there. Every install rule of the product lives here, so that a new program or add-on
# is one line.
#
#   bin/vantrel                                   the host link application
#   lib/tavro/lib*.so                             its private shared libraries
#   lib/tavro/add-ons/file_systems/tavro3.so ...  file-system add-ons
#   lib/tavro/add-ons/clients/tavro-mount.so ...  client add-ons
#   share/man/man1, share/bash-completion         manual pages, shell completion
#   share/doc/tavro, share/tavro/samples          README, samples
#   lib/systemd/{system,user}, lib/udev/rules.d   start when the cable is plugged in
#
# vantrel finds the add-ons relative to its own file (host/InstallLayout.h): ../lib/tavro/add-ons
# when installed, ../add-ons in the build tree. The RPATHs below are relative too, so the whole
# tree can be moved or packaged.
include(GNUInstallDirs)

set(TAVRO_INSTALL_LIBDIR lib/tavro)
set(TAVRO_INSTALL_ADDONDIR ${TAVRO_INSTALL_LIBDIR}/add-ons)
set(TAVRO_INSTALL_DATADIR ${CMAKE_INSTALL_DATADIR}/tavro)
set(TAVRO_INSTALL_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/tavro)
set(TAVRO_INSTALL_MANDIR ${CMAKE_INSTALL_MANDIR}/man1)
set(TAVRO_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)

find_program(HELP2MAN help2man)

# tavro_install_program(target [MANPAGE file.h2m] [SUMMARY "one line"]): a program in bin/,
# with a manual page made by help2man from the program's own --help (and the .h2m file's extra
# sections), so that the page never disagrees with the program.
function(tavro_install_program target)
  cmake_parse_arguments(P "" "MANPAGE;SUMMARY" "" ${ARGN})
  set_target_properties(${target} PROPERTIES INSTALL_RPATH "\$ORIGIN/../${TAVRO_INSTALL_LIBDIR}")
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  set_property(GLOBAL APPEND PROPERTY TAVRO_INSTALLED_TARGETS ${target})
  if(NOT P_MANPAGE)
    return()
  endif()
  if(NOT HELP2MAN)
    message(STATUS "help2man not found: no manual page for ${target}")
    return()
  endif()
  set(page ${CMAKE_BINARY_DIR}/man/${target}.1)
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    # Sanitizer reports of a --help run would only spoil the page.
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
            ${HELP2MAN} --no-info --no-discard-stderr
            --name=${P_SUMMARY} --version-string=${PROJECT_VERSION}
            --include=${P_MANPAGE} --output=${page} $<TARGET_FILE:${target}>
    DEPENDS ${target} ${P_MANPAGE}
    COMMAND gzip -9nf ${page}
    COMMENT "Manual page for ${target}"
    VERBATIM)
  add_custom_target(${target}-manpage ALL DEPENDS ${page}.gz)
  if(TARGET shell_files_tests)  # the test of the pages reads them from the build tree
    add_dependencies(shell_files_tests ${target}-manpage)
  endif()
  set_property(GLOBAL APPEND PROPERTY TAVRO_INSTALLED_TARGETS ${target}-manpage)
  install(FILES ${page}.gz DESTINATION ${TAVRO_INSTALL_MANDIR})
endfunction()

# tavro_install_library(target): a private shared library in lib/tavro.
function(tavro_install_library target)
  set_target_properties(${target} PROPERTIES INSTALL_RPATH "\$ORIGIN")
  install(TARGETS ${target} LIBRARY DESTINATION ${TAVRO_INSTALL_LIBDIR})
  set_property(GLOBAL APPEND PROPERTY TAVRO_INSTALLED_TARGETS ${target})
endfunction()

# tavro_install_addon(target KIND): an add-on in lib/tavro/add-ons/KIND (file_systems, clients).
function(tavro_install_addon target kind)
  set_target_properties(${target} PROPERTIES INSTALL_RPATH "\$ORIGIN/../..")
  install(TARGETS ${target} LIBRARY DESTINATION ${TAVRO_INSTALL_ADDONDIR}/${kind})
  set_property(GLOBAL APPEND PROPERTY TAVRO_INSTALLED_TARGETS ${target})
endfunction()

# Called once at the end of the top-level CMakeLists.txt, when every target exists. Targets
# that other work adds later (tavro5, a gateway client) install as soon as they exist.
function(tavro_install_rules)
  foreach(lib platform kernel kits wire device hostlink dodedivu)
    if(TARGET ${lib})
      tavro_install_library(${lib})
    endif()
  endforeach()
  foreach(addon tavro3 tavro5)
    if(TARGET ${addon})
      tavro_install_addon(${addon} file_systems)
    endif()
  endforeach()
  foreach(addon tavro-mount linkgate)
    if(TARGET ${addon})
      tavro_install_addon(${addon} clients)
    endif()
  endforeach()
  tavro_install_program(vantrel MANPAGE ${TAVRO_PACKAGING_DIR}/vantrel.h2m
                        SUMMARY "host link application: a Psion handheld's drives as Linux volumes")
  # The gateway's command-line client.
  if(TARGET tavro-gate)
    tavro_install_program(tavro-gate MANPAGE ${TAVRO_PACKAGING_DIR}/tavro-gate.h2m
                          SUMMARY "talk to a server on a Psion handheld through vantrel's gateway")
  endif()

  install(FILES ${CMAKE_SOURCE_DIR}/README.md ${TAVRO_PACKAGING_DIR}/copyright
          DESTINATION ${TAVRO_INSTALL_DOCDIR})
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/samples/ DESTINATION ${TAVRO_INSTALL_DATADIR}/samples)
  install(FILES ${TAVRO_PACKAGING_DIR}/bash-completion/vantrel
                ${TAVRO_PACKAGING_DIR}/bash-completion/tavro-gate
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
  # The units name the installed vantrel by its full path.
  set(TAVRO_BINDIR ${CMAKE_INSTALL_FULL_BINDIR})
  foreach(kind system user)
    configure_file(${TAVRO_PACKAGING_DIR}/systemd/${kind}/vantrel@.service.in
                   ${CMAKE_BINARY_DIR}/systemd/${kind}/vantrel@.service @ONLY)
    install(FILES ${CMAKE_BINARY_DIR}/systemd/${kind}/vantrel@.service
            DESTINATION lib/systemd/${kind})
  endforeach()
  install(FILES ${TAVRO_PACKAGING_DIR}/udev/70-vantrel.rules DESTINATION lib/udev/rules.d)

  # Everything the install needs, so that packaging builds no tests:
  # cmake --build DIR --target installables
  get_property(installed GLOBAL PROPERTY TAVRO_INSTALLED_TARGETS)
  add_custom_target(installables)
  add_dependencies(installables ${installed})
endfunction()
