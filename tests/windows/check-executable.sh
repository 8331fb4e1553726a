#!/usr/bin/env bash
# Checks a built Windows executable: its PE format, that it imports only
# system DLLs (everything else is linked in), and that it carries the version
# resource and the icon in 16x16 and 32x32 with 16 colours.
#   check-executable.sh <exe> <pei-i386|pei-x86-64> <product> <version> <original file name>
set -uo pipefail
exe=$1 format=$2 product=$3 version=$4 original=$5
failed=0
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }
pass() { echo "ok: $*"; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

objdump -p "$exe" >"$work/headers" 2>&1 || fail "objdump cannot read $exe"
grep -q "file format $format\$" "$work/headers" && pass "format $format" || fail "not $format: $(grep -m1 'file format' "$work/headers")"
grep -q 'Subsystem.*Windows GUI' "$work/headers" && pass "GUI subsystem" || fail "not a GUI program"

system_dlls='^(kernel32|user32|gdi32|shell32|ole32|oleaut32|comctl32|comdlg32|advapi32|msvcrt|ucrtbase|shlwapi|uxtheme|ws2_32|version|api-ms-win-[a-z0-9-]+)\.dll$'
mapfile -t dlls < <(sed -n 's/^\s*DLL Name: //p' "$work/headers" | tr 'A-Z' 'a-z' | sort -u)
[[ ${#dlls[@]} -gt 0 ]] || fail "no imports found"
for dll in "${dlls[@]}"; do
  [[ $dll =~ $system_dlls ]] || fail "imports a non-system DLL: $dll"
done
pass "imports: ${dlls[*]}"

wrestool -l "$exe" >"$work/resources" 2>&1 || fail "wrestool cannot list resources"
grep -q -- '--type=16 ' "$work/resources" && pass "version resource" || fail "no version resource"
# The version strings are UTF-16 in the resource.
wrestool -x --raw --type=16 "$exe" 2>/dev/null | iconv -c -f UTF-16LE -t UTF-8 2>/dev/null |
  tr -c '[:print:]' '\n' | grep -v '^$' >"$work/version"
for pair in "ProductName=$product" "FileVersion=$version" "ProductVersion=$version" "OriginalFilename=$original"; do
  key=${pair%%=*} value=${pair#*=}
  if grep -A2 -x "$key" "$work/version" | grep -qx "$value"; then pass "$key $value"; else fail "$key is not $value"; fi
done
wrestool -x --type=group_icon "$exe" -o "$work/icon.ico" 2>/dev/null
icons=$(icotool -l "$work"/icon.ico* 2>/dev/null)
for size in 16 32; do
  grep -q -- "--width=$size --height=$size --bit-depth=4 --palette-size=16" <<<"$icons" &&
    pass "icon ${size}x$size, 16 colours" || fail "no ${size}x$size 16-colour icon"
done

if [[ $failed -eq 0 ]]; then echo "$exe: all checks passed"; exit 0; fi
echo "$exe: $failed check(s) failed"; exit 1
