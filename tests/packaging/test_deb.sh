#!/usr/bin/env bash
# The Debian package end to end, as a user gets it: makes the .deb from a
# configured and built tree (or takes a given one), checks its file list and
# control fields, runs lintian and desktop-file-validate, installs it with
# apt-get, starts the installed program the way the menu does (the desktop
# entry's Exec line) on a private X server and looks for its window, closes
# it, purges the package and checks that nothing of it is left.
#
#   test_deb.sh --source-dir DIR --build-dir DIR    make the package with CPack
#   test_deb.sh --source-dir DIR --deb FILE         test a package made before
#
# It installs into the running system, so it needs root; otherwise it exits
# with 77 (skipped). It also skips when a quillet package or a
# /usr/bin/Quillet-1_0_0 is already there, so as not to replace or remove
# someone's installation. Every external step has a time limit, and the exit
# trap stops the program and the X server and purges the package it installed.
set -uo pipefail

readonly skip_code=77
readonly package=quillet
readonly version=1.0.0
readonly program=Quillet-1_0_0
readonly caption='Quillet (v1.0.0) by Tavrik'
readonly clean_path=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin

source_dir=""
build_dir=""
deb=""
while [[ $# -gt 0 ]]; do
  case "$1" in
    --source-dir) source_dir=$2; shift 2 ;;
    --build-dir)  build_dir=$2; shift 2 ;;
    --deb)        deb=$2; shift 2 ;;
    *) echo "usage: $0 --source-dir DIR (--build-dir DIR | --deb FILE)" >&2; exit 2 ;;
  esac
done
if [[ -z "$source_dir" || ( -z "$build_dir" && -z "$deb" ) ]]; then
  echo "usage: $0 --source-dir DIR (--build-dir DIR | --deb FILE)" >&2
  exit 2
fi

failures=0
checks=0
ok()   { checks=$((checks + 1)); echo "ok: $*"; }
fail() { checks=$((checks + 1)); failures=$((failures + 1)); echo "FAIL: $*"; }
check() {  # check "what" command...
  local what=$1; shift
  if "$@"; then ok "$what"; else fail "$what"; fi
}
die()  { fail "$*"; finish; }
finish() {
  echo "$((checks - failures)) passed, $failures failed"
  [[ $failures -eq 0 ]] && exit 0
  exit 1
}
# Predicates for check.
no_match()   { ! grep -Eq -- "$1" <<<"$2"; }               # no_match REGEX TEXT
has_match()  { grep -Eq -- "$1" <<<"$2"; }                 # has_match REGEX TEXT
all_root_owned() { ! awk '$2 != "root/root"' "$1" | grep -q .; }
dirs_are_usr_0755() { ! awk '$1 ~ /^d/ && ($1 != "drwxr-xr-x" || ($6 != "./" && $6 !~ /^\.\/usr\//))' "$1" | grep -q .; }
is_stripped() { has_match ', stripped' "$1" && no_match 'not stripped' "$1"; }
man_page_is_about() { gzip -dc "$1" | grep -q "^\.TH $2 1 "; }
not_known_to_dpkg() { ! dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q .; }

# --- Preconditions: root, tools, and nobody's installation in the way.
if [[ $(id -u) -ne 0 ]]; then
  echo "skipped: installing the package needs root (this test installs and purges it system-wide)"
  exit $skip_code
fi
# A run cut off before its clean-up (killed by a time limit) leaves this
# marker with the package; the next run purges that package instead of
# taking it for someone's installation.
readonly marker=/var/tmp/quillet-deb-test.installed
if [[ -f "$marker" ]] && dpkg-query -W -f='${Status}' "$package" >/dev/null 2>&1; then
  echo "an earlier run of this test was cut off with $package installed: purging it first"
  timeout 300 dpkg --purge "$package" >/dev/null 2>&1 || { echo "FAIL: could not purge $package"; exit 1; }
fi
rm -f "$marker"
if [[ "$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null)" == *" installed" ]]; then
  echo "skipped: a $package package is already installed here; this test would replace and purge it"
  exit $skip_code
fi
if [[ -e /usr/bin/$program ]]; then
  echo "skipped: /usr/bin/$program already exists and belongs to no $package package; this test would overwrite it"
  exit $skip_code
fi
missing=()
for tool in dpkg-deb apt-get lintian desktop-file-validate Xvfb xdotool xprop file gzip timeout; do
  command -v "$tool" >/dev/null || missing+=("$tool")
done
if [[ -n "$build_dir" ]]; then command -v cpack >/dev/null || missing+=(cpack); fi
[[ ${#missing[@]} -eq 0 ]] || die "missing tools: ${missing[*]} (scripts/install-deps installs them)"

# --- Clean-up on every exit.
work=$(mktemp -d /tmp/quillet-deb-test.XXXXXX)
chmod 755 "$work"   # apt's unprivileged downloader must be able to read the .deb
installed_by_us=0
app_pid=""      # the timeout process that runs the program
window_pid=""   # the program itself, once its window is found
xvfb_pid=""
stop_app() {
  if [[ -n "$app_pid" ]] && kill -0 "$app_pid" 2>/dev/null; then
    kill -TERM "$app_pid" 2>/dev/null
    for _ in $(seq 20); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$app_pid" 2>/dev/null
  fi
  if [[ -n "$window_pid" ]] && kill -0 "$window_pid" 2>/dev/null \
     && [[ "$(readlink "/proc/$window_pid/exe" 2>/dev/null)" == "/usr/bin/$program" ]]; then
    kill -KILL "$window_pid" 2>/dev/null
  fi
  [[ -n "$app_pid" ]] && wait "$app_pid" 2>/dev/null
  app_pid=""
}
cleanup() {
  stop_app
  if [[ -n "$xvfb_pid" ]] && kill -0 "$xvfb_pid" 2>/dev/null; then
    kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null
  fi
  if [[ $installed_by_us -eq 1 ]] && dpkg-query -W "$package" >/dev/null 2>&1; then
    echo "cleanup: purging the $package package installed by this test"
    if timeout 300 dpkg --purge "$package" >/dev/null 2>&1; then
      rm -f "$marker"
    else
      echo "cleanup: could not purge $package" >&2
    fi
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

arch=$(dpkg --print-architecture)
deb_name="${package}_${version}_${arch}.deb"

# --- The package.
if [[ -z "$deb" ]]; then
  echo "making the package from $build_dir"
  if ! timeout 300 cpack --config "$build_dir/CPackConfig.cmake" -B "$work/cpack" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    die "cpack did not make the package"
  fi
  deb="$work/cpack/$deb_name"
  check "cpack made $deb_name" test -f "$deb"
  [[ -f "$deb" ]] || { ls "$work/cpack"; die "no $deb_name"; }
else
  [[ -f "$deb" ]] || die "no such package: $deb"
  check "the package file is named $deb_name" test "$(basename "$deb")" = "$deb_name"
fi
cp "$deb" "$work/$deb_name"
deb="$work/$deb_name"

# --- Control fields.
field() { dpkg-deb -f "$deb" "$1"; }
check "Package is $package" test "$(field Package)" = "$package"
check "Version is $version" test "$(field Version)" = "$version"
check "Architecture is $arch" test "$(field Architecture)" = "$arch"
check "Section is utils" test "$(field Section)" = "utils"
check "Maintainer is 'Name <address>'" \
  has_match '^[^<>]*[^<> ] <[^<>@ ]+@[^<>@ ]+\.[^<>@ ]+>$' "$(field Maintainer)"
description=$(field Description)
check "Description has a synopsis and a long part" \
  test "$(head -n1 <<<"$description" | wc -c)" -gt 10 -a "$(wc -l <<<"$description")" -ge 3
depends=$(field Depends)
echo "Depends: $depends"
for lib in libqt6widgets6 libqt6gui6 libqt6core6 libstdc++6 libc6; do
  check "Depends names $lib with a minimum version" has_match "(^|, )${lib//+/\\+} \(>= [^)]+\)" "$depends"
done
check "Depends names no development package" no_match '-dev\b' "$depends"

# --- Contents: exactly these files, root-owned, with the right modes.
expected_files=(
  "-rwxr-xr-x ./usr/bin/$program"
  "-rw-r--r-- ./usr/share/applications/quillet.desktop"
  "-rw-r--r-- ./usr/share/doc/$package/changelog.gz"
  "-rw-r--r-- ./usr/share/doc/$package/copyright"
  "-rw-r--r-- ./usr/share/icons/hicolor/16x16/apps/quillet.png"
  "-rw-r--r-- ./usr/share/icons/hicolor/32x32/apps/quillet.png"
  "-rw-r--r-- ./usr/share/icons/hicolor/64x64/apps/quillet.png"
  "-rw-r--r-- ./usr/share/man/man1/$program.1.gz"
)
dpkg-deb -c "$deb" >"$work/contents"
awk '$1 !~ /^d/ {print $1, $6}' "$work/contents" | sort >"$work/files.actual"
printf '%s\n' "${expected_files[@]}" | sort >"$work/files.expected"
if diff -u "$work/files.expected" "$work/files.actual"; then
  ok "the package holds exactly the expected files, with the expected modes"
else
  fail "the package's files differ from the expected list (diff above: - expected, + found)"
fi
check "every entry is owned by root/root" all_root_owned "$work/contents"
check "every directory is 0755 and lies under /usr" dirs_are_usr_0755 "$work/contents"

# --- The files themselves.
root="$work/root"
dpkg-deb -x "$deb" "$root"
binary="$root/usr/bin/$program"
file_info=$(file -b "$binary")
check "the program is an ELF executable" has_match '^ELF 64-bit LSB pie executable' "$file_info"
check "the program is stripped" is_stripped "$file_info"
for size in 16 32; do
  check "the ${size}x${size} icon is the project's quillet-$size.png" \
    cmp -s "$source_dir/assets/icon/quillet-$size.png" "$root/usr/share/icons/hicolor/${size}x${size}/apps/quillet.png"
done
check "the 64x64 icon is a 64 x 64 PNG" \
  has_match '^PNG image data, 64 x 64,' "$(file -b "$root/usr/share/icons/hicolor/64x64/apps/quillet.png")"
check "the manual page and the changelog are valid gzip files" \
  gzip -t "$root/usr/share/man/man1/$program.1.gz" "$root/usr/share/doc/$package/changelog.gz"
check "the manual page is about $program" man_page_is_about "$root/usr/share/man/man1/$program.1.gz" "${program^^}"

desktop="$root/usr/share/applications/quillet.desktop"
if desktop-file-validate "$desktop" >"$work/dfv.log" 2>&1; then
  ok "desktop-file-validate accepts the desktop entry"
else
  cat "$work/dfv.log"
  fail "desktop-file-validate rejects the desktop entry"
fi
entry() { sed -n "s/^$1=//p" "$desktop" | head -n1; }
exec_line=$(entry Exec)
check "the entry's Name is Quillet" test "$(entry Name)" = "Quillet"
check "the entry's Icon is quillet (the installed icon's name)" test "$(entry Icon)" = "quillet"
check "the entry is in the Utility and TextTools categories" \
  has_match '(^|;)Utility;(.*;)?TextTools;' "$(entry Categories)"
check "the entry has a Comment" test -n "$(entry Comment)"
check "Exec is the bare program name, with no field codes or arguments (it reads no command line)" \
  test "$exec_line" = "$program"

# --- lintian: no errors.
timeout 300 lintian --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1
lintian_rc=$?
grep -v '^running with root privileges' "$work/lintian.log" | sed 's/^/lintian: /' >"$work/lintian.tags"
if [[ -s "$work/lintian.tags" ]]; then cat "$work/lintian.tags"; else echo "lintian: no tags"; fi
# lintian's status: 0 clean, 2 errors found, anything else it did not run through.
check "lintian ran (status $lintian_rc)" test $lintian_rc -eq 0 -o $lintian_rc -eq 2
check "lintian reports no errors" no_match '^E: ' "$(cat "$work/lintian.log")"

# --- Install with apt, as a user would.
echo "installing $deb_name with apt-get"
installed_by_us=1
touch "$marker"
if ! DEBIAN_FRONTEND=noninteractive timeout 600 apt-get install -y -q --no-install-recommends \
       -o DPkg::Lock::Timeout=300 "$deb" >"$work/install.log" 2>&1; then
  cat "$work/install.log"
  die "apt-get install $deb failed"
fi
ok "apt-get installed the package"
check "dpkg reports $package $version installed" \
  test "$(dpkg-query -W -f='${Status} ${Version}' "$package")" = "install ok installed $version"
dpkg -L "$package" >"$work/owned"
owned_files=()
while IFS= read -r path; do
  [[ -d "$path" ]] || owned_files+=("$path")
done <"$work/owned"
check "dpkg lists the ${#expected_files[@]} packaged files as installed" test ${#owned_files[@]} -eq ${#expected_files[@]}
for spec in "${expected_files[@]}"; do
  path=${spec#* .}
  check "$path is installed" test -f "$path"
done
check "the installed desktop entry passes desktop-file-validate" \
  desktop-file-validate /usr/share/applications/quillet.desktop
resolved=$(PATH=$clean_path command -v "$exec_line" || true)
check "the Exec command is found on the standard PATH as /usr/bin/$program" test "$resolved" = "/usr/bin/$program"
if command -v man >/dev/null; then
  check "man finds the manual page" test "$(man -w "$program" 2>/dev/null)" = "/usr/share/man/man1/$program.1.gz"
fi

# --- Start it as the menu does, on a private X server.
Xvfb -displayfd 9 -screen 0 1024x768x24 -nolisten tcp 9>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do [[ -s "$work/display" ]] && break; sleep 0.1; done
[[ -s "$work/display" ]] || { cat "$work/xvfb.log"; die "Xvfb did not start"; }
display=":$(head -n1 "$work/display")"
mkdir -m 700 "$work/home" "$work/runtime"
env -i PATH="$clean_path" HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime" \
    DISPLAY="$display" QT_QPA_PLATFORM=xcb LANG=C.UTF-8 \
    timeout 120 $exec_line >"$work/app.log" 2>&1 &
app_pid=$!
window=""
for _ in $(seq 200); do
  window=$(DISPLAY=$display timeout 5 xdotool search --name "^Quillet \(v1\.0\.0\) by Tavrik\$" 2>/dev/null | head -n1)
  [[ -n "$window" ]] && break
  kill -0 "$app_pid" 2>/dev/null || break
  sleep 0.1
done
if [[ -n "$window" ]]; then
  ok "the installed program shows a window titled \"$caption\""
  title=$(DISPLAY=$display timeout 5 xdotool getwindowname "$window")
  check "the caption is exactly \"$caption\"" test "$title" = "$caption"
  window_pid=$(DISPLAY=$display timeout 5 xdotool getwindowpid "$window" 2>/dev/null || true)
  check "the window belongs to /usr/bin/$program" \
    test -n "$window_pid" -a "$(readlink "/proc/$window_pid/exe" 2>/dev/null)" = "/usr/bin/$program"
  wm_class=$(DISPLAY=$display timeout 5 xprop -id "$window" WM_CLASS | sed -n 's/^WM_CLASS(STRING) = "[^"]*", "\([^"]*\)"$/\1/p')
  check "the window's class \"$wm_class\" is the entry's StartupWMClass (docks group it with the entry)" \
    test -n "$wm_class" -a "$wm_class" = "$(entry StartupWMClass)"
else
  cat "$work/app.log"
  fail "no window titled \"$caption\" appeared within 20 s"
fi

# --- Close it (the window has no menu; end the process as a session would).
# timeout passes the TERM on to the program.
if kill -0 "$app_pid" 2>/dev/null; then
  kill -TERM "$app_pid" 2>/dev/null
  for _ in $(seq 50); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$app_pid" 2>/dev/null; then
    fail "the program did not end within 5 s of SIGTERM"
  else
    ok "the program ended when asked to"
  fi
fi
stop_app
if [[ -n "$window" ]]; then
  check "the window is gone" test -z "$(DISPLAY=$display timeout 5 xdotool search --name "^Quillet " 2>/dev/null)"
fi
kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null
xvfb_pid=""

# --- Purge, and check that nothing is left.
echo "purging $package with apt-get"
if DEBIAN_FRONTEND=noninteractive timeout 600 apt-get remove --purge -y -q \
     -o DPkg::Lock::Timeout=300 "$package" >"$work/remove.log" 2>&1; then
  ok "apt-get purged the package"
  installed_by_us=0
  rm -f "$marker"
else
  cat "$work/remove.log"
  fail "apt-get remove --purge $package failed"
fi
check "dpkg no longer knows $package (purged)" not_known_to_dpkg "$package"
left=()
for path in "${owned_files[@]}"; do
  [[ -e "$path" || -L "$path" ]] && left+=("$path")
done
for path in /usr/share/doc/$package /usr/share/icons/hicolor/*/apps/quillet.png /usr/share/applications/quillet.desktop; do
  [[ -e "$path" ]] && left+=("$path")
done
if [[ ${#left[@]} -eq 0 ]]; then
  ok "no file of the package is left after the purge"
else
  fail "left after the purge: ${left[*]}"
fi

finish
