#!/usr/bin/env bash
# The release bundle: builds the package target of a Windows build, then checks the ZIP it made:
# named with the project's version, exactly the shipped files under one folder of that name (both
# plug-ins, talhost and the three tools, the README, the five license notices; no simulator, no
# test program), each notice the one it claims to be, the README the source tree's, and the
# stripped programs still with their exports, version resources and system-only imports.
#   check_bundle.sh BUILD_DIR SOURCE_DIR VERSION OBJDUMP
set -euo pipefail
build=$1 source=$2 version=$3 objdump=$4
check="$(dirname "$0")/check_binary.sh"
fail() { printf 'FAIL: %s\n' "$*" >&2; exit 1; }

cmake --build "$build" --target package >"$build/package.log" 2>&1 ||
  { cat "$build/package.log"; fail "the package target failed"; }
name="InstallDLL-$version-win64"
zip="$build/$name.zip"
[ -f "$zip" ] || fail "no $zip (the package target made: $(ls "$build"/*.zip 2>/dev/null))"

listed=$(python3 -c 'import sys, zipfile; print("\n".join(n for n in zipfile.ZipFile(sys.argv[1]).namelist() if not n.endswith("/")))' "$zip" | sort)
expected=$(printf "$name/%s\n" install.dll drvinstall.dll talhost.exe pkgcheck.exe fwimage.exe \
  taldevice.exe README.md licenses/expat.txt licenses/gcc-runtime-libraries.txt \
  licenses/mingw-w64-and-winpthreads.txt licenses/nlohmann-json.txt licenses/cli11.txt | sort)
[ "$listed" = "$expected" ] || fail "the ZIP holds
$listed
where it should hold
$expected"

out="$build/Testing/bundle"
rm -rf "$out"
mkdir -p "$out"
python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$zip" "$out"
dir="$out/$name"
cmp -s "$dir/README.md" "$source/README.md" || fail "README.md is not the source tree's"
# Each notice: file, a text only that notice carries.
while IFS='|' read -r file text; do
  grep -qF "$text" "$dir/licenses/$file" || fail "licenses/$file does not hold \"$text\""
done <<'EOT'
expat.txt|Copyright (c) 1998-2000 Thai Open Source Software Center Ltd and Clark Cooper
gcc-runtime-libraries.txt|GCC RUNTIME LIBRARY EXCEPTION
mingw-w64-and-winpthreads.txt|mingw-w64-libraries/winpthreads
nlohmann-json.txt|Niels Lohmann
cli11.txt|Upstream-Name: CLI11
EOT
for p in install drvinstall; do
  bash "$check" pe-exports "$objdump" "$dir/$p.dll" GetInterfaceVersion GetProperty Install >/dev/null
  bash "$check" pe-version "$objdump" "$dir/$p.dll" "$version" >/dev/null
  bash "$check" pe-imports-known "$objdump" "$dir/$p.dll" >/dev/null
done
for t in talhost pkgcheck fwimage taldevice; do
  bash "$check" pe-imports "$objdump" "$dir/$t.exe" >/dev/null
done
echo "bundle: $zip ok ($(echo "$listed" | wc -l) files)"
