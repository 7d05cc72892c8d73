# GoogleTest's header, precompiled once for every test executable rather than parsed in every
# test source: a fresh build of the tests takes a fifth less. A precompiled header defeats a
# compiler cache, so scripts/build.sh turns it on only when no compiler launcher is set.
option(TAVRO_TEST_PCH "Precompile GoogleTest's header once for every test" OFF)

# The tests' compile definitions: the add-on folders and samples, so tests load the real
# shared objects.
set(TAVRO_TEST_DEFINITIONS
  TAVRO_FS_ADDON_DIR="${TAVRO_FS_ADDON_DIR}"
  TAVRO_CLIENT_ADDON_DIR="${TAVRO_CLIENT_ADDON_DIR}"
  TAVRO_SAMPLES_DIR="${TAVRO_SAMPLES_DIR}"
  TAVRO_BIN_DIR="${CMAKE_RUNTIME_OUTPUT_DIRECTORY}")

# The target that holds the precompiled header; called where the tests' compile options are
# set, so that it is made with the same ones. It is an (empty) GoogleTest executable of its
# own, not a ctest test.
function(tavro_test_pch_target)
  if(NOT TAVRO_TEST_PCH)
    return()
  endif()
  set(source ${CMAKE_CURRENT_BINARY_DIR}/tavro_test_pch.cpp)
  file(WRITE ${source} "// Holds GoogleTest's precompiled header for the tests.\n")
  add_executable(tavro_test_pch ${source})
  target_link_libraries(tavro_test_pch PRIVATE GTest::gtest GTest::gtest_main Threads::Threads)
  target_compile_definitions(tavro_test_pch PRIVATE ${TAVRO_TEST_DEFINITIONS})
  target_precompile_headers(tavro_test_pch PRIVATE <gtest/gtest.h>)
endfunction()

# tavro_test(name [ONE_THREAD] [COST seconds] SOURCES a.cpp b.cpp LIBS x y [LABELS l1 l2]): one
# GoogleTest executable, each of its tests a ctest test. The add-on folders and samples are
# passed in as macros so tests load the real shared objects. ONE_THREAD: the suite starts no
# thread, so the ThreadSanitizer build leaves it out (there is nothing for it to find). COST:
# about how long the suite's longest test runs; ctest starts the costliest tests first, so that
# a long one does not start last and hold the whole run up (until ctest has timed runs of its
# own).
function(tavro_test name)
  cmake_parse_arguments(T "ONE_THREAD" "COST" "SOURCES;LIBS;LABELS" ${ARGN})
  set(left_out OFF)
  if(T_ONE_THREAD AND TAVRO_SANITIZE STREQUAL "thread")
    set(left_out ON)
  endif()
  add_executable(${name} ${T_SOURCES})
  set_target_properties(${name} PROPERTIES EXCLUDE_FROM_ALL ${left_out})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  target_compile_definitions(${name} PRIVATE ${TAVRO_TEST_DEFINITIONS})
  if(TARGET tavro_test_pch)
    target_precompile_headers(${name} REUSE_FROM tavro_test_pch)
  endif()
  if(left_out)
    return()
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 120)
  # The labels and cost are set once the discovered tests are known (ctest reads this file
  # after the discovery's own): passed through the discovery, a list of labels would keep only
  # its first.
  set(properties "")
  if(T_LABELS)
    string(APPEND properties " LABELS \"${T_LABELS}\"")
  endif()
  if(T_COST)
    string(APPEND properties " COST ${T_COST}")
  endif()
  if(properties)
    set(script ${CMAKE_CURRENT_BINARY_DIR}/${name}_properties.cmake)
    file(WRITE ${script}
      "if(${name}_TESTS)\n"
      "  set_tests_properties(\${${name}_TESTS} PROPERTIES${properties})\n"
      "endif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${script})
  endif()
endfunction()

# tavro_bench(name SOURCES... LIBS... [DEPENDS targets]): a Google Benchmark executable (not a
# ctest test), built after the DEPENDS targets (the add-ons it loads).
function(tavro_bench name)
  cmake_parse_arguments(B "" "" "SOURCES;LIBS;DEPENDS" ${ARGN})
  if(NOT benchmark_FOUND)
    return()
  endif()
  add_executable(${name} ${B_SOURCES})
  # Sanitizer builds leave benchmarks out of "all": their figures would mean nothing there,
  # and the test builds stay short.
  if(NOT TAVRO_SANITIZE STREQUAL "none")
    set_target_properties(${name} PROPERTIES EXCLUDE_FROM_ALL ON)
  endif()
  target_link_libraries(${name} PRIVATE ${B_LIBS} benchmark::benchmark Threads::Threads)
  target_compile_definitions(${name} PRIVATE ${TAVRO_TEST_DEFINITIONS})
  if(B_DEPENDS)
    add_dependencies(${name} ${B_DEPENDS})
  endif()
endfunction()

# Adds every folder below the current one that has a CMakeLists.txt: one folder of suites or
# benchmarks per layer.
function(tavro_add_subfolders)
  file(GLOB dirs LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/*)
  foreach(dir ${dirs})
    if(IS_DIRECTORY ${dir} AND EXISTS ${dir}/CMakeLists.txt)
      add_subdirectory(${dir})
    endif()
  endforeach()
endfunction()
