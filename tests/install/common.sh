# Shared by the install tests: checks that say what failed, the installed
# files' checks, and the example consumers.  Sourced, not run.

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# expect_keys OUTPUT KEYS: the lines of print_keys, one per press, name KEYS
# in order ("1559").
expect_keys() {
  local got
  got=$(printf '%s\n' "$1" | sed -n 's/^key \(.\) .*/\1/p' | tr -d '\n')
  [ "$got" = "$2" ] || fail "expected the keys $2, got \"$got\" from: $1"
}

# check_binaries LIBRARY PROGRAM: the library names its soname, and neither
# carries a run path (into the build tree or anywhere).
check_binaries() {
  local lib=$1 program=$2
  readelf -d "$lib" | grep 'SONAME.*\[libvelmora\.so\.0\]' > /dev/null || fail "$lib has no soname libvelmora.so.0"
  if readelf -d "$lib" "$program" | grep -E 'RPATH|RUNPATH'; then
    fail "$lib or $program carries a run path"
  fi
}

# The version of the project, from its one place.
project_version() {
  sed -n 's/^project(velmora VERSION \([0-9.]*\) .*/\1/p' "$1/CMakeLists.txt"
}

# check_headers INCLUDE_DIR LIB_DIR WORK VERSION: every installed header
# compiles with the installed include folder alone, nothing but velmora/ sits
# in it, and a program built with them reports VERSION from the header and
# from the installed library.
check_headers() {
  local include=$1 lib=$2 work=$3 version=$4 out
  [ "$(ls "$include")" = "velmora" ] || fail "$include holds more than velmora/: $(ls "$include")"
  (cd "$include" && find velmora -name '*.h' | sort | sed 's/.*/#include <&>/') > "$work/all_headers.cpp"
  [ "$(wc -l < "$work/all_headers.cpp")" -gt 50 ] || fail "too few headers installed in $include"
  cat >> "$work/all_headers.cpp" << 'EOF_CPP'
#include <cstdio>
int main() {
  velmora::VersionInfo v = velmora::Version();
  std::printf("%s %d.%d.%d %s\n", VELMORA_VERSION_TEXT, v.major, v.minor, v.patch, v.text);
}
EOF_CPP
  g++ -std=c++20 -I"$include" "$work/all_headers.cpp" -o "$work/all_headers" -L"$lib" -lvelmora ||
    fail "the installed headers do not compile"
  out=$(LD_LIBRARY_PATH=$lib "$work/all_headers") || fail "the version program failed"
  [ "$out" = "$version $version $version" ] || fail "the header and library versions are \"$out\", not $version"
}

# check_completion FILE: the bash completion completes commands, options and
# option values from the command table.
check_completion() {
  local out
  out=$(bash -c '
    source "$1"
    complete_line() { COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _velmora; echo "${COMPREPLY[*]}"; }
    complete_line velmora di
    complete_line velmora listen --in
    complete_line velmora listen --input lo
    complete_line velmora dial -o no
    complete_line velmora -' _ "$1")
  [ "$out" = "$(printf 'dial\n--input\nloopback\nnone\n--help --version -V')" ] ||
    fail "bash completion gave: $out"
}

# check_man_page FILE PROGRAM: the page renders without warnings and has a
# section for every command the program lists.
check_man_page() {
  local page=$1 program=$2 name warnings
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || fail "man -l $page failed"
  [ -z "$warnings" ] || fail "man page warnings: $warnings"
  for name in $("$program" --help | sed -n '/^commands:/,/^$/s/^  \([a-z]\+\) .*/\1/p'); do
    zcat "$page" | grep "^\.SS $name\$" > /dev/null || fail "the man page has no section for $name"
  done
}

# build_consumers EXAMPLES WORK KEYS_WAV [PREFIX_PATH PKG_CONFIG_DIR]: builds
# examples/embed-cmake and examples/embed-pkgconfig from a copy in WORK, runs
# both on KEYS_WAV (which holds 1559), and checks that no compile or link
# line names the source or the build tree (FORBIDDEN, a regex).
build_consumers() {
  local examples=$1 work=$2 wav=$3 prefix_path=${4:-} pc_dir=${5:-} forbidden=$6 out
  cp -r "$examples" "$work/examples"
  cmake -S "$work/examples/embed-cmake" -B "$work/cmake-build" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
    ${prefix_path:+-DCMAKE_PREFIX_PATH="$prefix_path"} > "$work/cmake.log" ||
    fail "configuring embed-cmake failed: $(cat "$work/cmake.log")"
  cmake --build "$work/cmake-build" -- VERBOSE=1 > "$work/cmake-build.log" 2>&1 ||
    fail "building embed-cmake failed: $(cat "$work/cmake-build.log")"
  if grep -E "$forbidden" "$work/cmake-build.log" "$work/cmake-build/compile_commands.json"; then
    fail "embed-cmake was built with a path into the source or build tree"
  fi
  out=$("$work/cmake-build/print_keys" "$wav") || fail "embed-cmake's print_keys failed: $out"
  expect_keys "$out" 1559
  PKG_CONFIG_PATH=$pc_dir make -C "$work/examples/embed-pkgconfig" > "$work/pc-build.log" 2>&1 ||
    fail "building embed-pkgconfig failed: $(cat "$work/pc-build.log")"
  if grep -E "$forbidden" "$work/pc-build.log"; then
    fail "embed-pkgconfig was built with a path into the source or build tree"
  fi
  out=$("$work/examples/embed-pkgconfig/print_keys" "$wav") || fail "embed-pkgconfig's print_keys failed: $out"
  expect_keys "$out" 1559
}
