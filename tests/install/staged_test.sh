#!/usr/bin/env bash
# Installs the build into a staging folder (DESTDIR), checks the installed
# files, and builds the two example consumers against the staged files
# alone, then runs them on a WAV file that the staged program dialled.
#   tests/install/staged_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
. "$source/tests/install/common.sh"

work=$(mktemp -d /tmp/velmora-staged.XXXXXX)
trap 'rm -rf "$work"' EXIT
stage=$work/stage
prefix=/usr/local
root=$stage$prefix

DESTDIR=$stage cmake --install "$build" --prefix "$prefix" > "$work/install.log" ||
  fail "cmake --install failed: $(cat "$work/install.log")"
for f in bin/velmora lib/libvelmora.so lib/libvelmora.so.0 include/velmora/component/tonvel.h \
  include/velmora/version.h lib/cmake/Velmora/VelmoraConfig.cmake lib/pkgconfig/velmora.pc \
  share/man/man1/velmora.1.gz share/bash-completion/completions/velmora; do
  [ -e "$root/$f" ] || fail "$prefix/$f was not installed"
done
[ -L "$root/lib/libvelmora.so.0" ] || fail "libvelmora.so.0 is not a link to the versioned library"
check_binaries "$root/lib/libvelmora.so.0" "$root/bin/velmora"
version=$(project_version "$source")
check_headers "$root/include" "$root/lib" "$work" "$version"

# The staged program, on the staged library.
export LD_LIBRARY_PATH=$root/lib
ldd "$root/bin/velmora" | grep "$root/lib/libvelmora.so.0" > /dev/null || fail "the staged program does not load the staged library"
[ "$("$root/bin/velmora" --version)" = "velmora $version" ] || fail "velmora --version is not velmora $version"
grep -q "^Version: $version\$" "$root/lib/pkgconfig/velmora.pc" || fail "velmora.pc does not carry $version"
check_man_page "$root/share/man/man1/velmora.1.gz" "$root/bin/velmora"
check_completion "$root/share/bash-completion/completions/velmora"

(cd "$work" && "$root/bin/velmora" dial 1559 --output keys.wav > /dev/null) || fail "velmora dial failed"
unset LD_LIBRARY_PATH
# Built against the staged files; the CMake consumer finds the library
# through its run path, the other one through LD_LIBRARY_PATH.
forbidden="$source/|$build/|$source\\b|$build\\b"
LD_LIBRARY_PATH=$root/lib build_consumers "$source/examples" "$work" "$work/keys.wav" "$root" "$root/lib/pkgconfig" "$forbidden"
echo "staged install: passed"
