# Expat for every build (native, sanitizers, fuzzing, Windows): one source, Debian's newest expat
# source package with its patches applied (scripts/setup unpacks it into
# $TAL_CACHE/src/expat-<version>/expat), built here with this build's compiler (and toolchain)
# into a static library, once per build folder (<build>/_deps/expat):
#   EXPAT::EXPAT        the static library with its headers (XML_STATIC, XML_DTD, XML_GE=1)
#   TAL_EXPAT_VERSION   its version ("2.8.3"), which the artifact checks compare between builds
# TAL_EXPAT_DIR names another patched source folder; empty takes the newest in the cache.

if(DEFINED ENV{TAL_CACHE})
  set(_tal_cache $ENV{TAL_CACHE})
else()
  set(_tal_cache /var/cache/tal)
endif()
set(TAL_EXPAT_DIR "" CACHE PATH
    "Expat sources with Debian's patches applied (empty: the newest scripts/setup unpacked)")
set(_expat_source "${TAL_EXPAT_DIR}")
if(NOT _expat_source)
  file(GLOB _tal_expat_sources LIST_DIRECTORIES true ${_tal_cache}/src/expat-*/expat)
  list(SORT _tal_expat_sources COMPARE NATURAL)
  list(LENGTH _tal_expat_sources _n)
  if(_n GREATER 0)
    list(GET _tal_expat_sources -1 _expat_source)
  endif()
endif()
if(NOT _expat_source OR NOT EXISTS "${_expat_source}/CMakeLists.txt")
  message(FATAL_ERROR "No patched Expat source: run scripts/setup (it unpacks Debian's expat "
                      "source package into ${_tal_cache}/src/expat-<version>) or set "
                      "TAL_EXPAT_DIR to a folder holding Expat's CMakeLists.txt.")
endif()

# The version, from the header. The parsers set the allocation limits, which came with 2.7.2.
file(STRINGS ${_expat_source}/lib/expat.h _expat_version_lines
     REGEX "^#[ \t]*define[ \t]+XML_(MAJOR|MINOR|MICRO)_VERSION[ \t]+[0-9]+")
set(TAL_EXPAT_VERSION "")
foreach(part MAJOR MINOR MICRO)
  string(REGEX MATCH "XML_${part}_VERSION[ \t]+([0-9]+)" _m "${_expat_version_lines}")
  list(APPEND TAL_EXPAT_VERSION ${CMAKE_MATCH_1})
endforeach()
list(JOIN TAL_EXPAT_VERSION "." TAL_EXPAT_VERSION)
if(TAL_EXPAT_VERSION VERSION_LESS 2.7.2)
  message(FATAL_ERROR "Expat ${TAL_EXPAT_VERSION} in ${_expat_source} is older than 2.7.2: run "
                      "scripts/setup to fetch Debian's newest expat source.")
endif()

# The same code generation as the rest of this build: position-independent (it goes into shared
# plug-ins), and instrumented like our own code in the sanitizer and fuzz builds.
set(_expat_flags "")
if(NOT WIN32)
  string(APPEND _expat_flags " -fPIC")
endif()
if(TAL_SANITIZE)
  string(APPEND _expat_flags " -fsanitize=address,undefined -fno-omit-frame-pointer")
endif()
if(TAL_FUZZ)
  string(APPEND _expat_flags " -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer")
endif()
if(TAL_SANITIZE_THREAD)
  string(APPEND _expat_flags " -fsanitize=thread")
endif()
set(_expat_toolchain "")
if(WIN32)
  set(_expat_toolchain -DCMAKE_TOOLCHAIN_FILE=${CMAKE_CURRENT_LIST_DIR}/mingw-w64-x86_64.cmake)
endif()

# The source folder, for its license notice in the release bundle (TalPackage.cmake).
set(TAL_EXPAT_SOURCE ${_expat_source})

set(_expat_root ${CMAKE_BINARY_DIR}/_deps/expat)
set(_expat_prefix ${_expat_root}/install)
set(_expat_stamp ${_expat_root}/built.stamp)
set(_expat_key "${_expat_source};${CMAKE_C_COMPILER};${_expat_flags}")
set(_expat_have "")
if(EXISTS ${_expat_stamp})
  file(READ ${_expat_stamp} _expat_have)
endif()
if(NOT _expat_have STREQUAL _expat_key)
  message(STATUS "Building static Expat ${TAL_EXPAT_VERSION} from ${_expat_source}")
  file(REMOVE_RECURSE ${_expat_root})
  file(MAKE_DIRECTORY ${_expat_root})
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S ${_expat_source} -B ${_expat_root}/build -G ${CMAKE_GENERATOR}
            ${_expat_toolchain} -DCMAKE_MAKE_PROGRAM=${CMAKE_MAKE_PROGRAM}
            -DCMAKE_C_COMPILER=${CMAKE_C_COMPILER} -DCMAKE_CXX_COMPILER=${CMAKE_CXX_COMPILER}
            -DCMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER}
            -DCMAKE_BUILD_TYPE=Release "-DCMAKE_C_FLAGS=${_expat_flags}"
            -DCMAKE_INSTALL_PREFIX=${_expat_prefix} -DCMAKE_INSTALL_LIBDIR=lib
            -DEXPAT_SHARED_LIBS=OFF -DEXPAT_BUILD_TOOLS=OFF -DEXPAT_BUILD_EXAMPLES=OFF
            -DEXPAT_BUILD_TESTS=OFF -DEXPAT_BUILD_DOCS=OFF -DEXPAT_BUILD_PKGCONFIG=OFF
            -DEXPAT_BUILD_FUZZERS=OFF -DEXPAT_WARNINGS_AS_ERRORS=OFF
    OUTPUT_FILE ${_expat_root}/configure.log ERROR_FILE ${_expat_root}/configure.log
    RESULT_VARIABLE _rc)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "Expat configure failed, see ${_expat_root}/configure.log")
  endif()
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
  INTERFACE_COMPILE_DEFINITIONS "XML_STATIC;XML_DTD;XML_GE=1")
