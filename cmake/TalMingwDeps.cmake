# Windows (mingw-w64) third-party libraries, all static and all built under the build folder:
#   EXPAT::EXPAT          Expat built from Debian's expat source package with its patches
#                         (scripts/setup unpacks it into $TAL_CACHE/src/expat-<version>),
#                         compiled with this toolchain, XML_STATIC.
#   GTest::gtest/gmock    GoogleTest and GoogleMock from Debian's /usr/src/googletest.
#   GTest::gtest_main
#   nlohmann_json::nlohmann_json
#                         the header-only library from Debian's nlohmann-json3-dev, reached through
#                         a folder of its own so that /usr/include never joins the mingw include
#                         path.

set(TAL_DEPS_DIR ${CMAKE_BINARY_DIR}/_deps)

# --- Expat -------------------------------------------------------------------------------------
if(DEFINED ENV{TAL_CACHE})
  set(_tal_cache $ENV{TAL_CACHE})
else()
  set(_tal_cache /var/cache/tal)
endif()
# Debian's source package, its patches applied (the security fixes are Debian's patches, not in
# the orig tarball): $TAL_CACHE/src/expat-<version>/expat. The newest version there is taken.
file(GLOB _tal_expat_sources LIST_DIRECTORIES true ${_tal_cache}/src/expat-*/expat)
list(SORT _tal_expat_sources COMPARE NATURAL)
list(LENGTH _tal_expat_sources _n)
if(_n GREATER 0)
  list(GET _tal_expat_sources -1 _tal_expat_default)
else()
  set(_tal_expat_default "")
endif()
set(TAL_EXPAT_SOURCE "${_tal_expat_default}" CACHE PATH
    "Expat sources with Debian's patches applied (scripts/setup unpacks them)")
if(NOT TAL_EXPAT_SOURCE OR NOT EXISTS "${TAL_EXPAT_SOURCE}/CMakeLists.txt")
  message(FATAL_ERROR "No patched Expat source: run scripts/setup (it unpacks Debian's expat "
                      "source package into ${_tal_cache}/src/expat-<version>) or set "
                      "TAL_EXPAT_SOURCE to a folder holding Expat's CMakeLists.txt.")
endif()

set(_expat_root ${TAL_DEPS_DIR}/expat)
set(_expat_prefix ${_expat_root}/install)
set(_expat_stamp ${_expat_root}/built.stamp)
set(_expat_key "${TAL_EXPAT_SOURCE};${CMAKE_C_COMPILER}")
set(_expat_have "")
if(EXISTS ${_expat_stamp})
  file(READ ${_expat_stamp} _expat_have)
endif()
if(NOT _expat_have STREQUAL _expat_key)
  message(STATUS "Building static Expat for Windows from ${TAL_EXPAT_SOURCE}")
  file(REMOVE_RECURSE ${_expat_root})
  file(MAKE_DIRECTORY ${_expat_root})
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S ${TAL_EXPAT_SOURCE} -B ${_expat_root}/build -G ${CMAKE_GENERATOR}
            -DCMAKE_TOOLCHAIN_FILE=${CMAKE_CURRENT_LIST_DIR}/mingw-w64-x86_64.cmake
            -DCMAKE_BUILD_TYPE=Release
            -DCMAKE_INSTALL_PREFIX=${_expat_prefix}
            -DEXPAT_SHARED_LIBS=OFF -DEXPAT_BUILD_TOOLS=OFF -DEXPAT_BUILD_EXAMPLES=OFF
            -DEXPAT_BUILD_TESTS=OFF -DEXPAT_BUILD_DOCS=OFF -DEXPAT_BUILD_PKGCONFIG=OFF
            -DEXPAT_BUILD_FUZZERS=OFF
    OUTPUT_FILE ${_expat_root}/configure.log ERROR_FILE ${_expat_root}/configure.log
    RESULT_VARIABLE _rc)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "Expat configure failed, see ${_expat_root}/configure.log")
  endif()
  # Debian's backported fixes test "#if XML_DTD == 1", as its autotools build defines it; the
  # CMake build writes an empty "#define XML_DTD", which would make those lines an error.
  set(_expat_config ${_expat_root}/build/expat_config.h)
  file(READ ${_expat_config} _expat_config_text)
  string(REGEX REPLACE "#define XML_DTD[ \t]*\n" "#define XML_DTD 1\n" _expat_config_text
                       "${_expat_config_text}")
  file(WRITE ${_expat_config} "${_expat_config_text}")
  execute_process(
    COMMAND ${CMAKE_COMMAND} --build ${_expat_root}/build --target install -j 2
    OUTPUT_FILE ${_expat_root}/build.log ERROR_FILE ${_expat_root}/build.log
    RESULT_VARIABLE _rc)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "Expat build failed, see ${_expat_root}/build.log")
  endif()
  file(WRITE ${_expat_stamp} "${_expat_key}")
endif()
file(GLOB _expat_lib ${_expat_prefix}/lib/libexpat*.a)
if(NOT _expat_lib)
  message(FATAL_ERROR "Expat build left no static library in ${_expat_prefix}/lib")
endif()
list(GET _expat_lib 0 _expat_lib)
add_library(EXPAT::EXPAT STATIC IMPORTED GLOBAL)
set_target_properties(EXPAT::EXPAT PROPERTIES
  IMPORTED_LOCATION ${_expat_lib}
  INTERFACE_INCLUDE_DIRECTORIES ${_expat_prefix}/include
  INTERFACE_COMPILE_DEFINITIONS XML_STATIC)

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
