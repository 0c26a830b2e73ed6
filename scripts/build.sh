# Sourced by scripts/test and scripts/demo: one configuration per build folder, so that the demo
# and the test stage that share build/ configure it alike and neither rebuilds what the other
# built.
#   tal_build DIR CMAKE_ARGS... [-- TARGET...]   configure DIR (warnings are errors, the compiler
#                                                 cache unless TAL_CCACHE=0) and build it
# Its configure output goes to DIR/configure.log, printed when configuring fails.

tal_root=${tal_root:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
tal_launcher=()
if [ "${TAL_CCACHE:-1}" != 0 ] && command -v ccache >/dev/null 2>&1; then
  export CCACHE_DIR=${CCACHE_DIR:-${TAL_CACHE:-/var/cache/tal}/ccache}
  export CCACHE_BASEDIR=$tal_root CCACHE_NOHASHDIR=1
  tal_launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
else
  tal_launcher=(-DCMAKE_C_COMPILER_LAUNCHER= -DCMAKE_CXX_COMPILER_LAUNCHER=)
fi

tal_build() {
  local dir=$1
  shift
  local args=() targets=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do args+=("$1"); shift; done
  [ "${1:-}" = -- ] && shift
  targets=("$@")
  mkdir -p "$dir"
  cmake -S "$tal_root" -B "$dir" -G Ninja -DTAL_WERROR=ON "${tal_launcher[@]}" "${args[@]}" \
    >"$dir/configure.log" 2>&1 || { cat "$dir/configure.log"; return 1; }
  if [ "${#targets[@]}" -gt 0 ]; then
    cmake --build "$dir" -j "${TAL_JOBS:-2}" --target "${targets[@]}"
  else
    cmake --build "$dir" -j "${TAL_JOBS:-2}"
  fi
}
