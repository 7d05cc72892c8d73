# The host's application object, a shared library of its own: vantrel links it, and so does
# every client add-on that chains a handler into it, so that the process has one DodedIVU and
# tests can load those add-ons without vantrel.
add_library(dodedivu SHARED ${CMAKE_CURRENT_LIST_DIR}/DodedIVU.cpp)
target_include_directories(dodedivu PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(dodedivu PUBLIC kits)
