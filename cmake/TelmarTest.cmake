# telmar_add_test(<name> SOURCES <files...> [LIBS <targets...>] [LOCK <resource>] [LABELS <labels...>])
#
# Builds one GoogleTest program and registers its cases with CTest. Tests that start the
# driver's worker or touch the process-shared segment must pass LOCK worker: the one-instance
# rule and the shared-memory names are process-wide, so such tests never run in parallel.
include(GoogleTest)
function(telmar_add_test name)
  cmake_parse_arguments(T "" "LOCK" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} telmar_test_support GTest::gtest_main GTest::gmock)
  set_target_properties(${name} PROPERTIES ENABLE_EXPORTS ON)
  set(props "")
  if(T_LOCK)
    list(APPEND props RESOURCE_LOCK ${T_LOCK})
  endif()
  if(T_LABELS)
    list(APPEND props LABELS "${T_LABELS}")
  endif()
  if(CMAKE_CROSSCOMPILING_EMULATOR)
    # Under an emulator (Wine) each start of a program is costly: one CTest entry per program.
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT 900 ${props})
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120 ${props})
  endif()
endfunction()

# telmar_add_code_page_runs(<name> SOURCES <files...> [LIBS <targets...>] [LOCALES <locale...>])
#
# Windows only: builds the test program once more as <name>_acp without the UTF-8 manifest, so
# that it runs in the system's ANSI code page as a host's program does, and runs it in Wine's
# default locale (code page 1252) and in each of LOCALES (Unix locale names, such as
# de_DE.UTF-8: code page 1252 with the decimal comma), one CTest entry each.
function(telmar_add_code_page_runs name)
  cmake_parse_arguments(C "" "" "SOURCES;LIBS;LOCALES" ${ARGN})
  if(NOT WIN32)
    return()
  endif()
  telmar_add_test(${name}_acp SOURCES ${C_SOURCES} LIBS ${C_LIBS})
  set_target_properties(${name}_acp PROPERTIES TELMAR_SYSTEM_CODE_PAGE ON)
  set_tests_properties(${name}_acp PROPERTIES ENVIRONMENT "LC_ALL=C")
  foreach(locale ${C_LOCALES})
    string(REGEX REPLACE "[._].*" "" short ${locale})
    add_test(NAME ${name}_acp_${short} COMMAND ${name}_acp)
    set_tests_properties(${name}_acp_${short} PROPERTIES TIMEOUT 900 ENVIRONMENT "LC_ALL=${locale}")
  endforeach()
endfunction()

# telmar_add_benchmark(<name> SOURCES <files...> [LIBS <targets...>])
function(telmar_add_benchmark name)
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT TELMAR_BUILD_BENCH)
    return()
  endif()
  add_executable(${name} ${B_SOURCES})
  target_link_libraries(${name} PRIVATE ${B_LIBS} telmar_bench_support benchmark::benchmark)
  set_target_properties(${name} PROPERTIES ENABLE_EXPORTS ON)
  set_property(GLOBAL APPEND PROPERTY TELMAR_BENCHMARKS ${name})
endfunction()
