#!/usr/bin/env bash
# Checks a built artifact's export and import tables and its version resource.
#   check_binary.sh pe-exports  OBJDUMP FILE [--at-least] NAME...  export names (exactly, or at least)
#   check_binary.sh pe-imports  OBJDUMP FILE                      imports only Windows system DLLs
#   check_binary.sh pe-imports-known OBJDUMP FILE                 imports only the known DLLs
#   check_binary.sh pe-version  OBJDUMP FILE VERSION              VERSIONINFO with that version
#   check_binary.sh elf-exports NM FILE [--at-least] NAME...      dynamic symbols defined by FILE
#   check_binary.sh expat-version - FILE VERSION [FILE...] [--peer FILE...]
#                                 FILE (and each further FILE) carries Expat VERSION; so does each
#                                 peer FILE (another build's artifacts) that exists
set -euo pipefail

mode=$1 tool=$2 file=$3
shift 3
fail() { printf 'FAIL: %s: %s\n' "$file" "$*" >&2; exit 1; }
[ -f "$file" ] || fail "no such file"

compare_names() {  # $1: found names (one a line); rest: [--at-least] expected names
  local found=$1
  shift
  local at_least=0
  if [ "${1:-}" = --at-least ]; then at_least=1; shift; fi
  local want
  want=$(printf '%s\n' "$@" | sort -u)
  found=$(printf '%s\n' "$found" | sed '/^$/d' | sort -u)
  local missing extra
  missing=$(comm -23 <(printf '%s\n' "$want") <(printf '%s\n' "$found"))
  extra=$(comm -13 <(printf '%s\n' "$want") <(printf '%s\n' "$found"))
  [ -z "$missing" ] || fail "missing exports: $(echo $missing)"
  if [ "$at_least" -eq 0 ] && [ -n "$extra" ]; then fail "unexpected exports: $(echo $extra)"; fi
  echo "exports: $(echo $found)"
}

case $mode in
  pe-exports)
    dump=$("$tool" -p "$file")
    names=$(printf '%s\n' "$dump" |
      awk '/^\[Ordinal\/Name Pointer\] Table/ {on=1; next} on && /^[[:space:]]*$/ {on=0} on {print $NF}')
    compare_names "$names" "$@"
    ;;
  pe-imports)
    # Windows' own DLLs; anything else (libgcc_s, libstdc++, libwinpthread, libexpat, ...) would
    # have to ship beside the plug-in.
    allowed='^(kernel32|kernelbase|user32|gdi32|advapi32|msvcrt|ucrtbase|api-ms-win-(crt|core)-.*|shell32|shlwapi|winmm|version|ole32|oleaut32|setupapi|newdev|cfgmgr32|ntdll|rpcrt4|comctl32|comdlg32|ws2_32|bcrypt|crypt32|wintrust|userenv|psapi|iphlpapi|secur32|wbemuuid|wtsapi32|powrprof)\.dll$'
    dlls=$("$tool" -p "$file" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr -d '\r' | sort -u)
    bad=$(printf '%s\n' "$dlls" | sed '/^$/d' | tr 'A-Z' 'a-z' | grep -v -E "$allowed" || true)
    [ -z "$bad" ] || fail "imports non-system DLLs: $(echo $bad)"
    echo "imports: $(echo $dlls)"
    ;;
  pe-imports-known)
    # A plug-in runs inside an administrator's setup program, loaded from a folder that may hold
    # other files: it imports only the libraries the system always takes from its own folder (the
    # known DLLs, and ntdll, which every process has). Any other system library (version, winmm,
    # newdev, ...) is bound at run time from the system folder by full path.
    known='^(ntdll|kernel32|kernelbase|user32|gdi32|advapi32|msvcrt|shell32|shlwapi|ole32|oleaut32|combase|setupapi|rpcrt4|sechost|comdlg32|imm32|ws2_32|psapi|imagehlp|normaliz|nsi|wldap32|shcore|msctf|clbcatq|coml2|difxapi|gdiplus)\.dll$'
    dlls=$("$tool" -p "$file" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr -d '\r' | sort -u)
    bad=$(printf '%s\n' "$dlls" | sed '/^$/d' | tr 'A-Z' 'a-z' | grep -v -E "$known" || true)
    [ -z "$bad" ] || fail "imports DLLs the system may look for outside its own folder: $(echo $bad)"
    echo "imports: $(echo $dlls)"
    ;;
  pe-version)
    version=$1
    # The resource directory's top level names type 16 (RT_VERSION)...
    "$tool" -p "$file" |
      awk '/^The \.rsrc Resource Directory section/ {on=1; next} on && /Entry: ID: 0x000010,/ {found=1}
           on && /Name Table/ {on=0} END {exit !found}' || fail "no VERSIONINFO resource"
    # ...and its strings carry the version.
    texts=$(strings -e l "$file")
    for key in VS_VERSION_INFO FileVersion ProductVersion FileDescription OriginalFilename; do
      grep -qx "$key" <<<"$texts" || fail "version resource lacks $key"
    done
    grep -qx "$version" <<<"$texts" || fail "version resource does not carry $version"
    echo "VERSIONINFO $version"
    ;;
  elf-exports)
    names=$("$tool" -D --defined-only "$file" | awk 'NF >= 3 && $2 ~ /^[TWDBRVi]$/ {print $3}' |
      sed 's/@.*//')
    compare_names "$names" "$@"
    ;;
  expat-version)
    # The parser's own version text ("expat_2.8.3") as the library reports it, read from the
    # artifact: every parser in a build, and in the other build, is the same Expat.
    version=$1
    shift
    files=("$file")
    peers=()
    while [ $# -gt 0 ] && [ "$1" != --peer ]; do files+=("$1"); shift; done
    [ "${1:-}" = --peer ] && shift
    peers=("$@")
    reported() {
      strings -a "$1" | grep -oxE 'expat_[0-9]+\.[0-9]+\.[0-9]+' | sort -u | tr '\n' ' ' |
        sed 's/ $//'
    }
    for f in "${files[@]}"; do
      [ -f "$f" ] || fail "no such file: $f"
      got=$(reported "$f")
      [ "$got" = "expat_$version" ] || fail "$f reports Expat [${got:-none}], expected expat_$version"
    done
    for f in "${peers[@]}"; do
      if [ ! -f "$f" ]; then
        echo "no $f (that build not built): not compared"
        continue
      fi
      got=$(reported "$f")
      [ "$got" = "expat_$version" ] ||
        fail "$f reports Expat [${got:-none}], this build expat_$version: the two builds differ"
    done
    echo "Expat $version in: ${files[*]} ${peers[*]}"
    ;;
  *)
    echo "usage: $0 pe-exports|pe-imports|pe-imports-known|pe-version|elf-exports TOOL FILE ..." >&2
    exit 2
    ;;
esac
