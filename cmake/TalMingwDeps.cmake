# Windows (mingw-w64) third-party libraries, all static and all built under the build folder
# (Expat, the same for every build, comes from TalExpat.cmake):
#   GTest::gtest/gmock    GoogleTest and GoogleMock from Debian's /usr/src/googletest.
#   GTest::gtest_main
#   nlohmann_json::nlohmann_json
#                         the header-only library from Debian's nlohmann-json3-dev, reached through
#                         a folder of its own so that /usr/include never joins the mingw include
#                         path.
#   CLI11::CLI11          the header-only argument parser from Debian's libcli11-dev, the same way.

set(TAL_DEPS_DIR ${CMAKE_BINARY_DIR}/_deps)

# --- GoogleTest and GoogleMock ------------------------------------------------------------------
if(TAL_BUILD_TESTS)
  set(TAL_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources (Debian's googletest)")
  if(NOT EXISTS ${TAL_GOOGLETEST_SOURCE}/CMakeLists.txt)
    message(FATAL_ERROR "No GoogleTest sources in ${TAL_GOOGLETEST_SOURCE}: run scripts/setup")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  add_subdirectory(${TAL_GOOGLETEST_SOURCE} ${TAL_DEPS_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  foreach(t gtest gtest_main gmock gmock_main)
    if(TARGET ${t} AND NOT TARGET GTest::${t})
      add_library(GTest::${t} ALIAS ${t})
    endif()
  endforeach()
endif()

# --- nlohmann-json --------------------------------------------------------------------------------
set(TAL_NLOHMANN_INCLUDE /usr/include/nlohmann CACHE PATH "nlohmann-json headers (nlohmann-json3-dev)")
if(NOT EXISTS ${TAL_NLOHMANN_INCLUDE}/json.hpp)
  message(FATAL_ERROR "No nlohmann/json.hpp in ${TAL_NLOHMANN_INCLUDE}: run scripts/setup")
endif()
set(_nl_dir ${TAL_DEPS_DIR}/nlohmann-include)
if(NOT EXISTS ${_nl_dir}/nlohmann)
  file(MAKE_DIRECTORY ${_nl_dir})
  file(CREATE_LINK ${TAL_NLOHMANN_INCLUDE} ${_nl_dir}/nlohmann SYMBOLIC)
endif()
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED GLOBAL)
set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES ${_nl_dir}
  INTERFACE_SYSTEM_INCLUDE_DIRECTORIES ${_nl_dir})

# --- CLI11 ------------------------------------------------------------------------------------------
# The header-only argument parser from Debian's libcli11-dev, reached the same way.
set(TAL_CLI11_INCLUDE /usr/include/CLI CACHE PATH "CLI11 headers (libcli11-dev)")
if(NOT EXISTS ${TAL_CLI11_INCLUDE}/CLI.hpp)
  message(FATAL_ERROR "No CLI/CLI.hpp in ${TAL_CLI11_INCLUDE}: run scripts/setup")
endif()
set(_cli_dir ${TAL_DEPS_DIR}/cli11-include)
if(NOT EXISTS ${_cli_dir}/CLI)
  file(MAKE_DIRECTORY ${_cli_dir})
  file(CREATE_LINK ${TAL_CLI11_INCLUDE} ${_cli_dir}/CLI SYMBOLIC)
endif()
add_library(CLI11::CLI11 INTERFACE IMPORTED GLOBAL)
set_target_properties(CLI11::CLI11 PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES ${_cli_dir}
  INTERFACE_SYSTEM_INCLUDE_DIRECTORIES ${_cli_dir})
