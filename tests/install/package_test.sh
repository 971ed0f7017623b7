#!/usr/bin/env bash
# Builds the Debian package of the build, installs it with dpkg -i, uses the
# installed program (version, man page, completion, dial and listen, an MP3
# through the system's lame), builds the example consumers
# against the installed package, removes it with dpkg -r and checks that
# nothing of it is left.  Needs root; the machine is left as it was found.
#   tests/install/package_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
. "$source/tests/install/common.sh"

[ "$(id -u)" -eq 0 ] || fail "the package test installs a Debian package: run it as root"
# dpkg's word for the velmora package: empty or "... not-installed" when
# dpkg holds nothing of it.
package_status() { dpkg-query -W -f='${Status}' velmora 2>/dev/null || true; }
case $(package_status) in
  "" | *not-installed) ;;
  *) fail "a velmora package is on this machine ($(package_status)); the test would replace it (dpkg -P velmora first)" ;;
esac

work=$(mktemp -d /tmp/velmora-package.XXXXXX)
installed=""
cleanup() {
  if [ -n "$installed" ]; then dpkg_locked -P velmora > /dev/null 2>&1 || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# dpkg refuses at once while another dpkg or apt holds its lock: wait for it.
dpkg_locked() {
  local tries=0 out
  while true; do
    if out=$(dpkg "$@" 2>&1); then return 0; fi
    if ! grep -q 'lock' <<< "$out" || [ $((tries += 1)) -gt 120 ]; then
      echo "$out" >&2
      return 1
    fi
    sleep 5
  done
}

cpack --config "$build/CPackConfig.cmake" -B "$work/package" > "$work/cpack.log" 2>&1 ||
  fail "cpack failed: $(cat "$work/cpack.log")"
version=$(project_version "$source")
deb=$work/package/velmora_${version}_amd64.deb
[ -f "$deb" ] || fail "no $deb: $(ls "$work/package")"
depends=$(dpkg-deb -f "$deb" Depends)
for need in lame flac libssl3 libportaudio2; do
  grep -qE "(^|, )$need( |,|$)" <<< "$depends" || fail "Depends lacks $need: $depends"
done

installed=yes
velmora=/usr/bin/velmora  # the installed program, whatever else is on the PATH
dpkg_locked -i "$deb" > "$work/dpkg.log" || fail "dpkg -i failed: $(cat "$work/dpkg.log")"
dpkg -L velmora > "$work/files"
for f in /usr/bin/velmora /usr/lib/libvelmora.so.0 /usr/include/velmora/version.h; do
  grep -qx "$f" "$work/files" || fail "the package does not hold $f"
done
[ ! -e /usr/bin/plugins ] || fail "/usr/bin/plugins exists; the installed program must do without it"

[ "$("$velmora" --version)" = "velmora $version" ] || fail "installed velmora --version: $("$velmora" --version)"
[ "$("$velmora" -V)" = "velmora $version" ] || fail "installed velmora -V: $("$velmora" -V)"
# Minimal images may tell dpkg not to unpack man pages; there the page is
# checked as the package holds it.
if grep -qs 'path-exclude.*/usr/share/man' /etc/dpkg/dpkg.cfg.d/*; then
  echo "note: this machine's dpkg excludes /usr/share/man; checking the page inside the package"
  [ ! -e /usr/share/man/man1/velmora.1.gz ] || fail "dpkg unpacked an excluded man page"
  dpkg-deb -x "$deb" "$work/unpacked"
  check_man_page "$work/unpacked/usr/share/man/man1/velmora.1.gz" "$velmora"
else
  page=$(man -w velmora) || fail "man -w velmora finds no page"
  [ "$page" = /usr/share/man/man1/velmora.1.gz ] || fail "man -w velmora gives $page"
  check_man_page "$page" "$velmora"
fi
check_completion /usr/share/bash-completion/completions/velmora
check_binaries /usr/lib/libvelmora.so.0 "$velmora"

cd "$work"
"$velmora" dial 5 --output five.wav > /dev/null || fail "velmora dial 5 failed"
keys=$("$velmora" listen --input five.wav --fast --keys) || fail "velmora listen failed"
grep -q '^5  at ' <<< "$keys" || fail "velmora listen did not hear 5: $keys"
# An MP3 is decoded by the system's lame, found on the PATH, with nothing
# named plugins beside /usr/bin/velmora; its working folder is gone after.
lame --quiet five.wav five.mp3 || fail "lame could not encode the test MP3"
mkdir tmp
mp3=$(TMPDIR=$work/tmp "$velmora" analyze five.mp3 2>&1) || fail "velmora analyze five.mp3 failed: $mp3"
grep -q '^Key key=5 ' <<< "$mp3" || fail "the MP3 analysis did not find 5: $mp3"
[ -z "$(ls -A tmp)" ] || fail "the MP3 analysis left $(ls -A tmp) in TMPDIR"
[ ! -e /usr/bin/plugins ] || fail "the MP3 analysis made /usr/bin/plugins"

"$velmora" dial 1559 --output keys.wav > /dev/null || fail "velmora dial 1559 failed"
build_consumers "$source/examples" "$work" "$work/keys.wav" "" "" "$source/|$build/"

dpkg_locked -r velmora > "$work/dpkg-r.log" || fail "dpkg -r failed: $(cat "$work/dpkg-r.log")"
while read -r f; do
  if [ -e "$f" ] && [ ! -d "$f" ]; then fail "$f is left after dpkg -r"; fi
  case $f in
    */velmora | */velmora/* | */Velmora | */Velmora/*) [ ! -e "$f" ] || fail "$f is left after dpkg -r" ;;
  esac
done < "$work/files"
dpkg_locked -P velmora > /dev/null || fail "dpkg -P failed"
installed=""
case $(package_status) in
  "" | *not-installed) ;;
  *) fail "dpkg still holds velmora after dpkg -P: $(package_status)" ;;
esac
echo "Debian package: passed"
