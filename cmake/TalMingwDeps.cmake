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

# --- header-only libraries -----------------------------------------------------------------------
# tal_header_library(TARGET NAME DIR HEADER PACKAGE): an imported target whose include folder holds
# only a link NAME -> DIR (the Debian package's folder), so /usr/include never joins the mingw
# include path.
function(tal_header_library target name dir header package)
  if(NOT EXISTS ${dir}/${header})
    message(FATAL_ERROR "No ${name}/${header} in ${dir}: run scripts/setup (${package})")
  endif()
  set(include_dir ${TAL_DEPS_DIR}/${name}-include)
  if(NOT EXISTS ${include_dir}/${name})
    file(MAKE_DIRECTORY ${include_dir})
    file(CREATE_LINK ${dir} ${include_dir}/${name} SYMBOLIC)
  endif()
  add_library(${target} INTERFACE IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES ${include_dir}
    INTERFACE_SYSTEM_INCLUDE_DIRECTORIES ${include_dir})
endfunction()

set(TAL_NLOHMANN_INCLUDE /usr/include/nlohmann CACHE PATH "nlohmann-json headers (nlohmann-json3-dev)")
tal_header_library(nlohmann_json::nlohmann_json nlohmann ${TAL_NLOHMANN_INCLUDE} json.hpp
                   nlohmann-json3-dev)
set(TAL_CLI11_INCLUDE /usr/include/CLI CACHE PATH "CLI11 headers (libcli11-dev)")
tal_header_library(CLI11::CLI11 CLI ${TAL_CLI11_INCLUDE} CLI.hpp libcli11-dev)
