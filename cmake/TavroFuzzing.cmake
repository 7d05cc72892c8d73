# Coverage-guided fuzzing with clang's libFuzzer. Configure with -DTAVRO_FUZZ=ON and clang
# (scripts/fuzz.sh does); every other build leaves the fuzzers out.
option(TAVRO_FUZZ "Build the libFuzzer targets (needs clang)" OFF)
if(TAVRO_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "TAVRO_FUZZ needs clang (CC=clang CXX=clang++)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# tavro_fuzzer(name SOURCES a.cpp ... LIBS x ...): one fuzzer executable, whose source defines
# LLVMFuzzerTestOneInput. It joins the target "fuzzers", which scripts/fuzz.sh builds and runs.
function(tavro_fuzzer name)
  if(NOT TAVRO_FUZZ)
    return()
  endif()
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${F_SOURCES})
  target_link_libraries(${name} PRIVATE ${F_LIBS} Threads::Threads)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  if(NOT TARGET fuzzers)
    add_custom_target(fuzzers)
  endif()
  add_dependencies(fuzzers ${name})
endfunction()
