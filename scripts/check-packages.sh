#!/usr/bin/env bash
# Checks what scripts/package.sh made in build/packages/:
#   the Debian packages tarnwick-cli (the programs without a display) and
#   tarnwick (the desktop program): lintian finds no error in either, they are
#   the only two, each holds every file it should and no file is in both,
#   tarnwick-cli depends on nothing of Qt and tarnwick on tarnwick-cli of the
#   same version, the desktop entry and the AppStream metadata validate;
#   extracted into a scratch root, tarnwick-cli alone first: its programs
#   answer --version and tarnwick-cli programs tarnwick-device over a
#   pseudo-terminal; then with tarnwick beside it: every program answers
#   --version and every manual page renders without a warning;
#   the Windows archives: they hold what they should, and their programs
#   answer --version under Wine (64-bit; the 32-bit ones only where this
#   machine can run 32-bit programs).
# Exits 1 on the first failed check. Run by scripts/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-deps.sh lintian desktop-file-utils appstream man-db groff-base unzip

packages=$PWD/build/packages
version=$(sed -n 's/^project(Tarnwick VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
arch=$(dpkg --print-architecture)
cli_programs=(tarnwick-cli tarnwick-device tarnwick-pack)
desktop_programs=(tarnwick tarnwick-demo)
programs=("${cli_programs[@]}" "${desktop_programs[@]}")
work=$(mktemp -d)
device_pid=
cleanup() {
  [[ -n $device_pid ]] && kill "$device_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
pass() { echo "ok: $*"; }

cli_deb=$packages/tarnwick-cli_${version}_${arch}.deb
desktop_deb=$packages/tarnwick_${version}_${arch}.deb
for deb in "$cli_deb" "$desktop_deb"; do
  [[ -f $deb ]] || fail "$deb is missing (scripts/package.sh makes it)"
  echo "=== $(basename "$deb"): $(stat -c %s "$deb") bytes"
  echo "Depends: $(dpkg-deb --field "$deb" Depends)"
done
# A file installed without a component would make a third package.
mapfile -t found < <(cd "$packages" && ls -- *.deb)
[[ ${#found[@]} -eq 2 ]] || fail "build/packages holds ${#found[@]} Debian packages, not two: ${found[*]}"
pass "two Debian packages, tarnwick-cli and tarnwick"

# lintian, both packages at once: errors fail; warnings and the rest are
# shown. It says so when run as root.
lintian --info --pedantic "$cli_deb" "$desktop_deb" 2>&1 | grep -v '^running with root privileges' |
  tee "$work/lintian.txt" || true
grep -q '^E: ' "$work/lintian.txt" && fail "lintian reports errors"
pass "lintian: no errors"

# The headless package needs nothing of Qt: neither its dependencies
# (dpkg-shlibdeps' findings) nor the libraries its programs load.
cli_depends=$(dpkg-deb --field "$cli_deb" Depends)
desktop_depends=$(dpkg-deb --field "$desktop_deb" Depends)
[[ -n $cli_depends ]] || fail "tarnwick-cli depends on nothing (dpkg-shlibdeps found no libraries)"
! grep -qi 'qt' <<< "$cli_depends" || fail "tarnwick-cli depends on Qt: $cli_depends"
dpkg-deb -x "$cli_deb" "$work/cli-only"
for program in "${cli_programs[@]}"; do
  objdump -p "$work/cli-only/usr/bin/$program" | grep NEEDED > "$work/needed.txt" || fail "objdump -p $program"
  ! grep -qi 'qt' "$work/needed.txt" || fail "$program loads Qt: $(grep -i qt "$work/needed.txt")"
done
pass "tarnwick-cli needs nothing of Qt"
grep -Eq "(^|, )tarnwick-cli \(= $version\)(,|$)" <<< "$desktop_depends" ||
  fail "tarnwick does not depend on tarnwick-cli (= $version): $desktop_depends"
grep -q 'libqt6widgets6' <<< "$desktop_depends" || fail "tarnwick does not depend on Qt Widgets: $desktop_depends"
pass "tarnwick depends on tarnwick-cli (= $version) and on Qt"

# apt would find everything the packages depend on: tarnwick-cli alone, with
# nothing of Qt to install, and both together.
apt-get install --simulate -q "$cli_deb" > "$work/apt.txt" 2>&1 || { cat "$work/apt.txt"; fail "apt-get cannot install tarnwick-cli"; }
! grep -i '^Inst .*qt' "$work/apt.txt" || fail "installing tarnwick-cli installs Qt"
apt-get install --simulate -q "$cli_deb" "$desktop_deb" > "$work/apt.txt" 2>&1 ||
  { cat "$work/apt.txt"; fail "apt-get cannot install tarnwick-cli and tarnwick"; }
pass "apt-get --simulate install resolves their dependencies"

contents() {  # contents DEB: the files (not the folders) the package installs
  dpkg-deb --contents "$1" | awk '{print $NF}' | sed 's|^\./|/|' | grep -v '/$' | sort
}
contents "$cli_deb" > "$work/cli-contents.txt"
contents "$desktop_deb" > "$work/desktop-contents.txt"
both=$(comm -12 "$work/cli-contents.txt" "$work/desktop-contents.txt")
[[ -z $both ]] || fail "files in both packages: $both"
check_contents() {  # check_contents PACKAGE CONTENTS FILE...
  local package=$1 list=$2 file
  shift 2
  for file in "$@"; do
    grep -qx "$file" "$list" || fail "$package lacks $file"
  done
  pass "$package holds all $# files"
}
cli_expected=(/usr/share/doc/tarnwick-cli/copyright /usr/share/doc/tarnwick-cli/changelog.gz
              /usr/share/doc/tarnwick-cli/README.md)
for program in "${cli_programs[@]}"; do
  cli_expected+=("/usr/bin/$program" "/usr/share/man/man1/$program.1.gz")
done
check_contents tarnwick-cli "$work/cli-contents.txt" "${cli_expected[@]}"
desktop_expected=(/usr/share/applications/tarnwick.desktop
                  /usr/share/icons/hicolor/16x16/apps/tarnwick.png /usr/share/icons/hicolor/32x32/apps/tarnwick.png
                  /usr/share/metainfo/org.tarnwick.Tarnwick.metainfo.xml
                  /usr/share/doc/tarnwick/copyright /usr/share/doc/tarnwick/changelog.gz)
for program in "${desktop_programs[@]}"; do
  desktop_expected+=("/usr/bin/$program" "/usr/share/man/man1/$program.1.gz")
done
check_contents tarnwick "$work/desktop-contents.txt" "${desktop_expected[@]}"

# tarnwick-cli on its own, as a station without a display has it.
root=$work/root
bin=$root/usr/bin
dpkg-deb -x "$cli_deb" "$root"
for program in "${cli_programs[@]}"; do
  answer=$(env -u DISPLAY -u WAYLAND_DISPLAY "$bin/$program" --version) || fail "$program --version"
  [[ $answer == "$program $version" ]] || fail "$program --version said \"$answer\""
done
pass "tarnwick-cli alone: its programs answer --version with $version"

# A whole run: the packed image goes over a pseudo-terminal to the device.
head -c 4000 /dev/urandom > "$work/firmware.bin"
"$bin/tarnwick-pack" "$work/firmware.bin" "$work/FIRMWARE.UPL"
"$bin/tarnwick-device" --baud 0 --runs 1 --expect "$work/firmware.bin" > "$work/device.out" 2> "$work/device.err" &
device_pid=$!
for _ in $(seq 50); do [[ -s $work/device.out ]] && break; sleep 0.1; done
port=$(head -n 1 "$work/device.out")
[[ -n $port ]] || fail "tarnwick-device did not start: $(cat "$work/device.err")"
cli_status=0
timeout 120 "$bin/tarnwick-cli" program -q "$port" "$work/FIRMWARE.UPL" || cli_status=$?
device_status=0
wait "$device_pid" || device_status=$?
device_pid=
[[ $cli_status -eq 0 && $device_status -eq 0 ]] ||
  fail "programming from the package: tarnwick-cli exit $cli_status, tarnwick-device exit $device_status"
pass "tarnwick-cli from the package programmed tarnwick-device on $port (4000 bytes)"

# Then tarnwick beside it.
dpkg-deb -x "$desktop_deb" "$root"
desktop-file-validate "$root/usr/share/applications/tarnwick.desktop" || fail "desktop-file-validate"
pass "desktop-file-validate"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.tarnwick.Tarnwick.metainfo.xml" ||
  fail "appstreamcli validate"

# Every program from the extracted root; the Qt ones need no display for this.
for program in "${programs[@]}"; do
  answer=$(env -u DISPLAY -u WAYLAND_DISPLAY "$bin/$program" --version) || fail "$program --version"
  [[ $answer == "$program $version" ]] || fail "$program --version said \"$answer\""
done
pass "every program answers --version with $version"

# Every page renders, groff has nothing to warn about, and it holds every
# option the program's help lists, its exit statuses and, for the programs
# that open ports, the permission hint (and the COM mapping where they scan).
for program in "${programs[@]}"; do
  page=$root/usr/share/man/man1/$program.1.gz
  MANWIDTH=80 man --warnings -E ascii -l "$page" > "$work/page.txt" 2> "$work/page.err" || fail "man -l $page"
  [[ ! -s $work/page.err ]] || fail "$program's page: $(cat "$work/page.err")"
  sections=("EXIT STATUS")
  [[ $program != tarnwick-pack ]] && sections+=("SERIAL PORTS")
  [[ $program != tarnwick-pack && $program != tarnwick-device ]] && sections+=("COM PORTS")
  for section in "${sections[@]}"; do
    grep -qx "$section" "$work/page.txt" || fail "$program's page has no $section section"
  done
  [[ $program == tarnwick-pack ]] || grep -q 'dialout' "$work/page.txt" || fail "$program's page has no dialout hint"
  help_option=--help
  [[ $program == tarnwick-cli ]] && help_option=--help-all
  "$bin/$program" "$help_option" | sed -n 's/^ \{1,10\}\(-[^ ]*\).*/\1/p' | tr ',' '\n' > "$work/options.txt"
  [[ -s $work/options.txt ]] || fail "no options read from $program $help_option"
  while read -r option; do
    grep -q -- "$option" "$work/page.txt" || fail "$program's page lacks $option"
  done < "$work/options.txt"
done
pass "man -l renders all ${#programs[@]} pages, each with every option of its program's help"

# The Windows archives.
wine_prefix=$PWD/build/windows-x64/wine-prefix
wine_run=$PWD/cmake/toolchains/wine-run.sh
for bits in 64 32; do
  zip=$packages/tarnwick-$version-win$bits.zip
  if [[ ! -f $zip ]]; then
    echo "no $(basename "$zip") (mingw-w64 was not installed when the packages were made)"
    continue
  fi
  echo "=== $(basename "$zip"): $(stat -c %s "$zip") bytes"
  folder=tarnwick-$version-win$bits
  unzip -Z1 "$zip" > "$work/zip.txt"
  for file in tarnwick.exe tarnwick-cli.exe tarnwick-device.exe tarnwick-pack.exe README.txt COM-PORTS.txt; do
    grep -qx "$folder/$file" "$work/zip.txt" || fail "$(basename "$zip") lacks $folder/$file"
  done
  unzip -q -o "$zip" -d "$work/win$bits"
  dir=$work/win$bits/$folder
  grep -q $'\r$' "$dir/COM-PORTS.txt" || fail "COM-PORTS.txt has no Windows line ends"
  # The archive's README is written for Windows: every line ends in CR LF, it
  # names this version, and none of the Linux set-up is in it.
  [[ $(grep -c $'\r$' "$dir/README.txt") -eq $(wc -l < "$dir/README.txt") ]] ||
    fail "README.txt has lines without Windows line ends"
  grep -q "^Tarnwick $version for Windows" "$dir/README.txt" || fail "README.txt does not name version $version"
  ! grep -E -q '\bapt\b|usermod|stty|/dev/|scripts/|```' "$dir/README.txt" || fail "README.txt holds Linux set-up"
  format=$(x86_64-w64-mingw32-objdump -f "$dir/tarnwick.exe" 2>/dev/null | sed -n 's/.*file format //p' || true)
  expected_format=pei-x86-64
  [[ $bits == 32 ]] && expected_format=pei-i386
  [[ -z $format || $format == "$expected_format" ]] || fail "tarnwick.exe in the $bits-bit archive is $format"
  pass "$(basename "$zip") holds the four programs, README.txt and COM-PORTS.txt"

  if [[ $bits == 32 ]] && ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    echo "This machine cannot run 32-bit programs: the 32-bit archive's programs are not run."
    continue
  fi
  for program in tarnwick-cli tarnwick-device tarnwick-pack; do
    answer=$("$wine_run" "$wine_prefix" "$dir/$program.exe" --version | tr -d '\r') || fail "$program.exe --version"
    [[ $answer == "$program $version" ]] || fail "$program.exe --version said \"$answer\""
  done
  # The desktop program answers in a box: the test driver reads and closes it.
  build=$PWD/build/windows-x$([[ $bits == 64 ]] && echo 64 || echo 86)
  driver=$build/tests/ui/win32/tarnwick_ui_driver.exe
  if [[ ! -f $driver && -f $build/CMakeCache.txt ]]; then
    cmake --build "$build" --target tarnwick_ui_driver >/dev/null
  fi
  if [[ -f $driver ]]; then
    TARNWICK_VERSION=$version bash tests/ui/win32/ui-run.sh "$wine_run" "$wine_prefix" /bin/false /bin/false \
      "$dir/tarnwick.exe" "$driver" 0 command-line > "$work/box.txt" 2>&1 ||
      { cat "$work/box.txt"; fail "tarnwick.exe from the archive"; }
    grep -q -- '--version: exit status 0' "$work/box.txt" || fail "tarnwick.exe --version"
    pass "the $bits-bit programs answer --version under Wine (tarnwick.exe in its box)"
  else
    pass "the $bits-bit console programs answer --version under Wine (no test driver built for tarnwick.exe's box)"
  fi
done
echo "All package checks passed."
