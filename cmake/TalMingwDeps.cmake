# Windows (mingw-w64) third-party libraries: a static Expat built from Debian's expat source
# tarball, and GoogleTest built from /usr/src/googletest. Both are built once and cached under
# the build folder. (Filled in by the build work; see scripts/setup.)
