# `cmake --build build --target bench` builds every benchmark and runs them one after another.
if(KIT_BUILD_BENCHMARKS)
  find_package(benchmark REQUIRED)
  add_custom_target(bench)
endif()

# kit_add_benchmark(<name> <sources>... LIBS <libraries>...)
function(kit_add_benchmark name)
  if(NOT KIT_BUILD_BENCHMARKS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  add_executable(${name} ${ARG_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark)
  add_custom_target(run_${name}
    COMMAND ${name} --benchmark_counters_tabular=true
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    USES_TERMINAL)
  add_dependencies(run_${name} ${name})
  add_dependencies(bench run_${name})
endfunction()
