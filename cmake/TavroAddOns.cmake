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
