#!/usr/bin/env bash
# The Windows zip step (packaging/win32_zip.cmake) on made-up executables: a
# 32-bit one is packed with the README, a 64-bit one and a non-executable are
# refused, and a missing one is skipped without a zip.
#   test_win32_zip.sh SOURCE_DIR
set -uo pipefail
source_dir=${1:?usage: $0 SOURCE_DIR}
script="$source_dir/packaging/win32_zip.cmake"
readme="$source_dir/README.md"

failures=0
checks=0
ok()   { checks=$((checks + 1)); echo "ok: $*"; }
fail() { checks=$((checks + 1)); failures=$((failures + 1)); echo "FAIL: $*"; }
check() { local what=$1; shift; if "$@"; then ok "$what"; else fail "$what"; fi; }

work=$(mktemp -d /tmp/quillet-zip-test.XXXXXX)
trap 'rm -rf "$work"' EXIT

# A minimal PE image header: "MZ", the signature's offset 0x80 at 0x3C,
# "PE\0\0" and the machine type at 0x80, then some body bytes.
make_pe() {  # make_pe FILE MACHINE_LO MACHINE_HI
  {
    printf 'MZ'
    head -c $((0x3C - 2)) /dev/zero
    printf '\x80\x00\x00\x00'
    head -c $((0x80 - 0x40)) /dev/zero
    printf "PE\\x00\\x00\\x$2\\x$3"
    printf 'body of a made-up program\n'
  } >"$1"
}
run_zip() {  # run_zip EXE OUTPUT_DIR
  mkdir -p "$2"
  timeout 120 cmake -DQUILLET_WINDOWS_EXE="$1" -DQUILLET_README="$readme" -DQUILLET_VERSION=1.0.0 \
        -DQUILLET_PACKAGE_NAME=quillet -DQUILLET_OUTPUT_DIR="$2" -P "$script" >"$2.log" 2>&1
}
zip_members() { (cd "$1" && cmake -E tar tf "$2" | sort | tr '\n' ' '); }
has_crlf_only() { ! tr -d '\r' <"$1" | cmp -s - "$1" && ! grep -q $'[^\r]$' "$1"; }

# 32-bit: packed.
make_pe "$work/win32.exe" 4c 01
if run_zip "$work/win32.exe" "$work/out32"; then ok "a 32-bit executable is packed"; else cat "$work/out32.log"; fail "a 32-bit executable is packed"; fi
zip="$work/out32/quillet-1.0.0-win32.zip"
check "the zip is named quillet-1.0.0-win32.zip" test -f "$zip"
check "the zip holds exactly the executable and README.txt in one folder" \
  test "$(zip_members "$work/out32" "$zip")" = "quillet-1.0.0-win32/Quillet-1_0_0.exe quillet-1.0.0-win32/README.txt "
check "the zip leaves no work files behind" test "$(ls -A "$work/out32")" = "quillet-1.0.0-win32.zip"
mkdir "$work/unpacked"
(cd "$work/unpacked" && cmake -E tar xf "$zip")
check "the packed executable is the given one, byte for byte" \
  cmp -s "$work/win32.exe" "$work/unpacked/quillet-1.0.0-win32/Quillet-1_0_0.exe"
check "README.txt is the README with CR LF line ends" \
  bash -c 'tr -d "\r" <"$1" | cmp -s - "$2"' _ "$work/unpacked/quillet-1.0.0-win32/README.txt" "$readme"
check "every line of README.txt ends in CR LF" has_crlf_only "$work/unpacked/quillet-1.0.0-win32/README.txt"

# 64-bit and not an executable: refused, no zip.
make_pe "$work/win64.exe" 64 86
if run_zip "$work/win64.exe" "$work/out64"; then fail "a 64-bit executable is refused"; else ok "a 64-bit executable is refused"; fi
# (CMake wraps long messages, so compare with the line breaks taken out.)
says() { tr -s ' \n' '  ' <"$1" | grep -q -- "$2"; }
check "the refusal says why" says "$work/out64.log" "not a 32-bit x86 Windows program"
check "no zip after the refusal" test ! -e "$work/out64/quillet-1.0.0-win32.zip"
printf 'plain text\n' >"$work/text.exe"
if run_zip "$work/text.exe" "$work/outtext"; then fail "a file that is no executable is refused"; else ok "a file that is no executable is refused"; fi

# Missing or not given: skipped cleanly.
if run_zip "$work/missing.exe" "$work/outmissing"; then ok "a missing executable is skipped (exit 0)"; else fail "a missing executable is skipped (exit 0)"; fi
check "the skip says so" says "$work/outmissing.log" "skipped: the Windows executable .* does not exist"
check "no zip when skipped" test -z "$(ls -A "$work/outmissing")"
if run_zip "" "$work/outnone"; then ok "no executable given is skipped (exit 0)"; else fail "no executable given is skipped (exit 0)"; fi
check "that skip says so" says "$work/outnone.log" "skipped: no Windows executable given"

echo "$((checks - failures)) passed, $failures failed"
[[ $failures -eq 0 ]]
