# tavro_fs_addon(name SOURCES...): a kernel file-system add-on, loaded by name with dlopen.
function(tavro_fs_addon name)
  add_library(${name} MODULE ${ARGN})
  set_target_properties(${name} PROPERTIES PREFIX "" LIBRARY_OUTPUT_DIRECTORY ${TAVRO_FS_ADDON_DIR})
endfunction()

# tavro_client_addon(name SOURCES...): a client add-on of the host link application.
function(tavro_client_addon name)
  add_library(${name} MODULE ${ARGN})
  set_target_properties(${name} PROPERTIES PREFIX "" LIBRARY_OUTPUT_DIRECTORY ${TAVRO_CLIENT_ADDON_DIR})
endfunction()

# tavro_addon_exports(target SYMBOL...): the add-on's dynamic symbol table holds exactly these
# names. Everything else, its own helpers, template code it instantiated and the libraries
# linked into it, stays inside, so that nothing clashes with another image's symbols and
# nobody comes to depend on what is not an entry point.
function(tavro_addon_exports target)
  set(script ${CMAKE_CURRENT_BINARY_DIR}/${target}.exports)
  list(JOIN ARGN ";\n    " names)
  file(WRITE ${script} "{\n  global:\n    ${names};\n  local: *;\n};\n")
  target_link_options(${target} PRIVATE "-Wl,--version-script=${script}")
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${script})
endfunction()
