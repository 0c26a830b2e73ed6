# Common settings for every target: warnings, sanitizers, and the third-party libraries
# (Expat, GoogleTest, nlohmann-json, Google Benchmark) for the native and the Windows build.

set(TAL_WARNINGS -Wall -Wextra -Wno-unused-parameter)
if(TAL_WERROR)
  list(APPEND TAL_WARNINGS -Werror)
endif()

# The project version for C++ and resource files: #include "tal_version.h".
set(TAL_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/tal_version.h.in ${TAL_GENERATED_DIR}/tal_version.h @ONLY)

# Apply the project's warning set to a target of ours (never to third-party code).
function(tal_target_defaults target)
  target_compile_options(${target} PRIVATE ${TAL_WARNINGS})
endfunction()

if(TAL_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# ThreadSanitizer (native, gcc or clang): a build of its own, for the tests that call the
# plug-in's exports from several threads.
if(TAL_SANITIZE_THREAD)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

# The fuzz build (clang): every library is instrumented for coverage and checked by ASan and
# UBSan; fuzz/ links the fuzz targets with libFuzzer's main.
if(TAL_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "TAL_FUZZ needs clang (-DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_C_COMPILER=clang-14)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

include(TalExpat)
if(WIN32)
  include(TalMingwDeps)
else()
  if(TAL_BUILD_TESTS)
    find_package(GTest REQUIRED)
  endif()
  find_package(nlohmann_json 3 REQUIRED)
  find_package(CLI11 2 REQUIRED)
  if(TAL_BUILD_BENCH)
    find_package(benchmark QUIET)
  endif()
endif()

# Helper for the test folders: one gtest executable registered with CTest.
function(tal_add_gtest name)
  add_executable(${name} ${ARGN})
  tal_target_defaults(${name})
  target_link_libraries(${name} PRIVATE GTest::gtest GTest::gmock GTest::gtest_main)
  if(WIN32)
    add_test(NAME ${name} COMMAND ${TAL_WINE} $<TARGET_FILE:${name}>)
  else()
    add_test(NAME ${name} COMMAND ${name})
  endif()
endfunction()

# A library of the files found in the given folders (relative to the current source folder).
# Rooms add files without touching the build: the globs are re-checked at every build.
function(tal_glob_library name kind)
  set(sources)
  foreach(dir ${ARGN})
    file(GLOB found CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp
         ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.c)
    list(APPEND sources ${found})
  endforeach()
  if(NOT sources)
    file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/${name}_empty.cpp "// empty room\n")
    set(sources ${CMAKE_CURRENT_BINARY_DIR}/${name}_empty.cpp)
  endif()
  add_library(${name} ${kind} ${sources})
  tal_target_defaults(${name})
endfunction()

# One gtest executable per test folder, from every .cpp file in it.
function(tal_glob_gtest name dir)
  file(GLOB found CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp)
  if(found)
    tal_add_gtest(${name} ${found})
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/common)
    target_link_libraries(${name} PRIVATE ${ARGN})
  endif()
endfunction()

# A plug-in of the framework: <output>.dll on Windows (undecorated exports named by DEF, a
# VERSIONINFO resource with DESCRIPTION, the runtime linked statically), lib<output>.so natively
# (the same exports through the shared version script). Every plug-in compiles the same export
# glue (InstallDLL/src/exports.cpp) and links a library that defines its binding.
function(tal_add_plugin target)
  cmake_parse_arguments(P "" "OUTPUT;DEF;DESCRIPTION" "SOURCES;LINK" ${ARGN})
  set(glue ${CMAKE_SOURCE_DIR}/InstallDLL/src)
  add_library(${target} SHARED ${glue}/exports.cpp ${P_SOURCES})
  tal_target_defaults(${target})
  target_include_directories(${target} PRIVATE ${glue} ${TAL_GENERATED_DIR})
  target_link_libraries(${target} PRIVATE ${P_LINK})
  set_target_properties(${target} PROPERTIES OUTPUT_NAME ${P_OUTPUT})
  if(WIN32)
    set(TAL_PLUGIN_OUTPUT ${P_OUTPUT})
    set(TAL_PLUGIN_DESCRIPTION ${P_DESCRIPTION})
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${P_OUTPUT}_version.rc)
    configure_file(${CMAKE_SOURCE_DIR}/cmake/plugin_version.rc.in ${rc} @ONLY)
    target_sources(${target} PRIVATE ${rc} ${P_DEF})
    set_target_properties(${target} PROPERTIES PREFIX "")
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
  else()
    set(map ${glue}/exports.map)
    target_link_options(${target} PRIVATE -Wl,--no-undefined -Wl,--version-script=${map})
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${map})
  endif()
endfunction()
