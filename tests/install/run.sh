#!/usr/bin/env bash
# The Linux install: `cmake --install` into a temporary prefix, a consumer
# built against it through the CMake package and through pkg-config and run
# (and one that builds PellarLib itself with add_subdirectory, whose own
# install holds nothing of PellarLib's unless PELLAR_INSTALL asks), the
# shared library's SONAME, the installed pellar and its manual pages, the
# headers (no internals, and every function they declare called by the
# consumer and linked from the library), and the .deb that `cpack -G DEB`
# builds, whose files must be the installed ones under /usr.
#
# usage: tests/install/run.sh BUILD_DIR
set -euo pipefail

build=$(realpath "$1")
source=$(realpath "$(dirname "$0")")
work=$(mktemp -d "${TMPDIR:-/tmp}/pellar-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
fail() { echo "FAILED: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
lib=$(find "$prefix" -name 'libPellarLib.so.*.*.*' -type f)
libdir=$(dirname "$lib")
soname=$(readelf -d "$lib" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[ "$soname" = libPellarLib.so.3.2 ] || fail "SONAME is '$soname'"
[ -L "$libdir/libPellarLib.so" ] && [ -L "$libdir/$soname" ] ||
  fail "missing library links in $libdir"

expected=$(printf '%s\n' 'Pellar Work Area Created (2 x 1)' \
                         "$("$prefix/bin/pellar" --version)")
[ "$("$prefix/bin/pellar" --version)" = "PellarLib 3.2 (30)" ] ||
  fail "the installed pellar does not run"
if [ -e "$build/programs/pellar-sheet/pellar-sheet" ]; then
  "$prefix/bin/pellar-sheet" --version | grep -q '^pellar-sheet 3.2 (30)$' ||
    fail "the installed pellar-sheet does not run"
fi

# Every installed program has its manual page, made from its --help.
for program in "$prefix"/bin/*; do
  page=$prefix/share/man/man1/$(basename "$program").1
  [ -s "$page" ] || fail "no manual page $page"
  grep -qF -- '\-\-help' "$page" || fail "$page does not list --help"
done

# The installed headers name no internals of the library.
if grep -rlE '(platform|textfile|grid|xml_writer)\.h' "$prefix/include"; then
  fail "installed headers include the library's internals (above)"
fi

# Every function the installed headers declare, as clang reads them, is
# named by the consumer's object file (so it calls each), and the consumer
# links against the installed library alone: a declared function the
# library does not export fails the link.
command -v clang++ >/dev/null || fail "clang++ is needed to list declarations"
python3 "$source/declared.py" "$prefix/include" >"$work/declared" ||
  fail "cannot list the installed headers' functions"
[ -s "$work/declared" ] || fail "the installed headers declare no functions"
clang++ -std=c++20 -O0 -c -I "$prefix/include" -o "$work/consumer.o" \
  "$source/consumer/main.cc" || fail "the consumer does not compile"
nm "$work/consumer.o" | awk '{ print $NF }' |
  sed -E 's/([CD])[0-5]E/\1*E/' | sort -u >"$work/referenced"
uncalled=$(cut -f1 "$work/declared" | sort | comm -23 - "$work/referenced")
if [ -n "$uncalled" ]; then
  grep -F "$uncalled" "$work/declared" >&2
  fail "the consumer does not call these declared functions (above)"
fi

# Through the CMake package.
cmake -S "$source/consumer" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" \
  >/dev/null
cmake --build "$work/cmake" >/dev/null
[ "$(LD_LIBRARY_PATH=$libdir "$work/cmake/consumer")" = "$expected" ] ||
  fail "the CMake package's consumer"
mkdir "$work/calls"
(cd "$work/calls" && LD_LIBRARY_PATH=$libdir "$work/cmake/consumer" --all) \
  >"$work/calls.out" || fail "the consumer's calls of every function"
grep -qx "called every function" "$work/calls.out" ||
  fail "the consumer's calls ended early"

# Through add_subdirectory: PellarLib built inside another project, its
# tests and benchmarks off by default.
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$source/subdirectory" -B "$work/sub" -DCMAKE_BUILD_TYPE=Release \
  -DPELLAR_SOURCE_DIR="$(realpath "$source/../..")" -DPELLAR_BUILD_MAILER=OFF \
  -DPELLAR_BUILD_SHEET=OFF "${launcher[@]}" >"$work/sub.log" 2>&1 ||
  { cat "$work/sub.log"; fail "add_subdirectory configure"; }
grep -qx 'PELLAR_BUILD_TESTS:BOOL=OFF' "$work/sub/CMakeCache.txt" &&
  grep -qx 'PELLAR_BUILD_BENCHMARKS:BOOL=OFF' "$work/sub/CMakeCache.txt" ||
  fail "add_subdirectory: tests or benchmarks default on"
cmake --build "$work/sub" -j2 --target consumer >>"$work/sub.log" 2>&1 ||
  { tail -n 30 "$work/sub.log"; fail "add_subdirectory build"; }
[ "$("$work/sub/consumer")" = "$expected" ] || fail "the add_subdirectory consumer"
# The parent built only its own program: its install holds that program and
# nothing of PellarLib's, and PellarLib set up no packaging for it.
cmake --install "$work/sub" --prefix "$work/sub-off" >>"$work/sub.log" 2>&1 ||
  { tail -n 5 "$work/sub.log"; fail "add_subdirectory: cmake --install"; }
installed=$(cd "$work/sub-off" && find . ! -type d | sort)
[ "$installed" = ./bin/consumer ] ||
  fail "add_subdirectory: the parent's install holds more than its program:" \
    $installed
[ ! -e "$work/sub/CPackConfig.cmake" ] ||
  fail "add_subdirectory: PellarLib set up CPack for the parent"
# Asked for, PellarLib installs beside the parent's program.
cmake -DPELLAR_INSTALL=ON "$work/sub" >>"$work/sub.log" 2>&1 &&
  cmake --build "$work/sub" -j2 >>"$work/sub.log" 2>&1 &&
  cmake --install "$work/sub" --prefix "$work/sub-on" >>"$work/sub.log" 2>&1 ||
  { tail -n 30 "$work/sub.log"; fail "add_subdirectory with PELLAR_INSTALL=ON"; }
for file in bin/consumer bin/pellar include/pellar/workarea/cell.h \
  lib/cmake/PellarLib/PellarLibConfig.cmake; do
  [ -e "$work/sub-on/$file" ] || fail "PELLAR_INSTALL=ON did not install $file"
done
ls "$work"/sub-on/lib*/libPellarLib.so.* >/dev/null 2>&1 ||
  fail "PELLAR_INSTALL=ON did not install the library"

# Through pkg-config.
export PKG_CONFIG_PATH=$libdir/pkgconfig
# shellcheck disable=SC2046
c++ -o "$work/pc-consumer" "$source/consumer/main.cc" \
  $(pkg-config --cflags --libs pellar)
[ "$(LD_LIBRARY_PATH=$libdir "$work/pc-consumer")" = "$expected" ] ||
  fail "the pkg-config consumer"
[ "$(pkg-config --modversion pellar)" = 3.2.0.30 ] || fail "pellar.pc version"

# The Debian package: the same files, its dependencies declared.
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/deb" \
  >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack -G DEB"; }
deb=$(ls "$work"/deb/*.deb)
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sed 's|^\./usr/||' |
  sort >"$work/deb.list"
(cd "$prefix" && find . ! -type d | sed 's|^\./||' | sort) >"$work/install.list"
diff "$work/install.list" "$work/deb.list" ||
  fail "the .deb's files differ from the install (< install, > .deb)"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libc6 libstdc++6 lftp; do
  [[ "$depends" == *"$needed"* ]] || fail "Depends lacks $needed: $depends"
done
echo "installed $(wc -l <"$work/install.list") files; $(basename "$deb"): $depends"
