# Settings of the Windows build (MinGW-w64, see mingw-w64-x86_64.cmake).
#
# Every program and DLL links libgcc, libstdc++ and winpthread statically, so that telmar.dll,
# DEDERIR.dll and Ostrel.dll need nothing beside them on a station. Programs and DLLs land in
# one folder, where Windows looks for the DLLs a program imports.
add_link_options(-static)
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601
                        __USE_MINGW_ANSI_STDIO=1)
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

# Every program runs with UTF-8 as its ANSI code page, as the POSIX build does, so that texts
# pass the same ways on both (a manifest setting; the DLLs use whatever code page the program
# that loads them has). A program with the property TELMAR_SYSTEM_CODE_PAGE set goes without it
# and runs in the system's code page, as a host's program does.
set(telmar_code_page_res ${CMAKE_BINARY_DIR}/utf8-code-page.res)
execute_process(COMMAND ${CMAKE_RC_COMPILER} utf8-code-page.rc -O coff -o ${telmar_code_page_res}
                WORKING_DIRECTORY ${CMAKE_CURRENT_LIST_DIR}/windows RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the code page manifest could not be compiled")
endif()
add_link_options("$<$<AND:$<STREQUAL:$<TARGET_PROPERTY:TYPE>,EXECUTABLE>,$<NOT:$<BOOL:$<TARGET_PROPERTY:TELMAR_SYSTEM_CODE_PAGE>>>>:${telmar_code_page_res}>")

# No Google Benchmark sources come with the system for this target.
set(TELMAR_BUILD_BENCH OFF CACHE BOOL "Build the Google Benchmark programs")

# GoogleTest built from the system's source package with this toolchain, before the project's
# warning flags apply.
set(TELMAR_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for a cross build")
if(NOT TARGET GTest::gtest_main)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(${TELMAR_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  foreach(t gtest gtest_main gmock)
    if(NOT TARGET GTest::${t})
      add_library(GTest::${t} ALIAS ${t})
    endif()
  endforeach()
endif()

# Paths built into the test programs are Unix paths of this machine; Wine finds them on its
# drive Z:, whatever drive a program's working directory is on.
set(TELMAR_TARGET_PATH_PREFIX "Z:")
