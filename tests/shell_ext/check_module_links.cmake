# The module's layer, checked on the built file: the libraries it depends on
# (no GTK, no WebKit, no host code) and the symbols it exports (the three
# Nautilus entry points and nothing else).
# Usage: cmake -DMODULE=<path> -P check_module_links.cmake
execute_process(COMMAND readelf -d --wide ${MODULE} OUTPUT_VARIABLE dynamic RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "readelf failed on ${MODULE}")
endif()
string(REGEX MATCHALL "Shared library: \\[[^]]+\\]" needed "${dynamic}")
foreach(library IN LISTS needed)
  if(library MATCHES "gtk|gdk|webkit|javascriptcore|vesk|framework|crypto|ssl|minizip|uuid")
    message(FATAL_ERROR "the module depends on ${library}")
  endif()
endforeach()
if(NOT "${needed}" MATCHES "libnautilus-extension\\.so")
  message(FATAL_ERROR "the module does not link the extension library: ${needed}")
endif()

execute_process(COMMAND nm -D --defined-only ${MODULE} OUTPUT_VARIABLE symbols)
string(REGEX MATCHALL " [TDBRW] [A-Za-z_][A-Za-z0-9_]*" exported "${symbols}")
list(TRANSFORM exported REPLACE "^ [TDBRW] " "")
list(SORT exported)
if(NOT exported STREQUAL "nautilus_module_initialize;nautilus_module_list_types;nautilus_module_shutdown")
  message(FATAL_ERROR "the module exports: ${exported}")
endif()
