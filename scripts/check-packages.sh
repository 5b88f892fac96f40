#!/usr/bin/env bash
# Checks what scripts/package.sh made in build/packages/:
#   the Debian package: lintian finds no error, the desktop entry and the
#   AppStream metadata validate, it holds every file it should; extracted into
#   a scratch root, every program answers --version, tarnwick-cli programs
#   tarnwick-device over a pseudo-terminal, and every manual page renders
#   without a warning;
#   the Windows archives: they hold what they should, and their programs
#   answer --version under Wine (64-bit; the 32-bit ones only where this
#   machine can run 32-bit programs).
# Exits 1 on the first failed check. Run by scripts/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-deps.sh lintian desktop-file-utils appstream man-db groff-base unzip

packages=$PWD/build/packages
version=$(sed -n 's/^project(Tarnwick VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
programs=(tarnwick tarnwick-cli tarnwick-device tarnwick-pack tarnwick-demo)
work=$(mktemp -d)
device_pid=
cleanup() {
  [[ -n $device_pid ]] && kill "$device_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
pass() { echo "ok: $*"; }

deb=$packages/tarnwick_${version}_amd64.deb
[[ -f $deb ]] || fail "$deb is missing (scripts/package.sh makes it)"
echo "=== $(basename "$deb"): $(stat -c %s "$deb") bytes"
dpkg-deb --field "$deb" Depends

# lintian: errors fail; warnings and the rest are shown. It says so when run as root.
lintian --info --pedantic "$deb" 2>&1 | grep -v '^running with root privileges' | tee "$work/lintian.txt" || true
grep -q '^E: ' "$work/lintian.txt" && fail "lintian reports errors"
pass "lintian: no errors"

# apt would find everything the package depends on.
apt-get install --simulate -q "$deb" > "$work/apt.txt" 2>&1 || { cat "$work/apt.txt"; fail "apt-get cannot install it"; }
pass "apt-get --simulate install resolves its dependencies"

dpkg-deb --contents "$deb" | awk '{print $NF}' | sed 's|^\./|/|' > "$work/contents.txt"
expected=(/usr/share/applications/tarnwick.desktop
          /usr/share/icons/hicolor/16x16/apps/tarnwick.png /usr/share/icons/hicolor/32x32/apps/tarnwick.png
          /usr/share/metainfo/org.tarnwick.Tarnwick.metainfo.xml
          /usr/share/doc/tarnwick/copyright /usr/share/doc/tarnwick/changelog.gz /usr/share/doc/tarnwick/README.md)
for program in "${programs[@]}"; do
  expected+=("/usr/bin/$program" "/usr/share/man/man1/$program.1.gz")
done
for file in "${expected[@]}"; do
  grep -qx "$file" "$work/contents.txt" || fail "the package lacks $file"
done
pass "the package holds all ${#expected[@]} files"

root=$work/root
dpkg-deb -x "$deb" "$root"
desktop-file-validate "$root/usr/share/applications/tarnwick.desktop" || fail "desktop-file-validate"
pass "desktop-file-validate"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.tarnwick.Tarnwick.metainfo.xml" ||
  fail "appstreamcli validate"

# Every program from the extracted root; the Qt ones need no display for this.
for program in "${programs[@]}"; do
  answer=$(env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/$program" --version) || fail "$program --version"
  [[ $answer == "$program $version" ]] || fail "$program --version said \"$answer\""
done
pass "every program answers --version with $version"

# A whole run: the packed image goes over a pseudo-terminal to the device.
bin=$root/usr/bin
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
