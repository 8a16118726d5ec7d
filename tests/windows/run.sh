#!/usr/bin/env bash
# The Windows checks of ./test. Cross-builds PellarLib.dll in both
# bitnesses with MinGW, registers both with regsvr32 in a fresh Wine prefix
# and runs, per bitness:
#   - the platform contract tests (src/platform/platform_test.cc),
#   - the C++ client (client_test.cc): creation, the type library against
#     the automation table, late- and early-bound calls, write-back, errors,
#   - the parity of every script of tests/scripts and the example report
#     between the native pellar host and Wine's cscript (parity.py),
# and finally unregisters both, checking the shared programmatic identifiers
# and that nothing is left behind.
#
# usage: tests/windows/run.sh NATIVE_PELLAR [BUILD_ROOT]
#   NATIVE_PELLAR  the native script host, built by ./test
#   BUILD_ROOT     cross builds, Wine prefix and logs (default build/windows;
#                  relative to the repository)
#
# ./test installs the cross compilers, widl, Wine's headers and Wine. When
# they are missing the stage fails under CI=true and otherwise says that it
# did not run (exit status 0). The 32-bit runs are made wherever the kernel
# runs 32-bit programs and the 32-bit Wine (wine32:i386) is installed;
# elsewhere only the 64-bit ones, and the stage says which of the two is
# missing (./test passes its reason in PELLAR_WIN32_UNAVAILABLE when it
# could not install wine32:i386). PELLAR_REQUIRE_WIN32=1 makes that a
# failure. The last line names the bitnesses run. Exit status 1 when a
# check fails.
set -uo pipefail

if [ $# -lt 1 ]; then
  echo "usage: $0 NATIVE_PELLAR [BUILD_ROOT]" >&2
  exit 2
fi
pellar=$(realpath "$1")
cd "$(dirname "$0")/../.."
root=$(realpath -m "${2:-build/windows}")
jobs=$(nproc)
started=$SECONDS

say() { echo "windows: $*"; }

# --- Tools -------------------------------------------------------------------
# ./test installs them (MinGW, widl, Wine's IDL files, Wine and wine32).
# Without them the stage fails under CI=true and otherwise says it did not
# run.
unavailable() {
  if [ "${CI:-false}" = true ]; then
    say "FAILED: $* (CI=true: this stage must run)"
    exit 1
  fi
  say "not run: $*"
  exit 0
}
wine=""
for candidate in /usr/lib/wine/wine64 "$(command -v wine64 || true)" \
                 "$(command -v wine || true)"; do
  if [ -n "$candidate" ] && [ -x "$candidate" ]; then wine=$candidate; break; fi
done
for tool in i686-w64-mingw32-g++ x86_64-w64-mingw32-g++ i686-w64-mingw32-widl \
            x86_64-w64-mingw32-widl wineserver python3; do
  command -v "$tool" >/dev/null || unavailable "$tool is not available"
done
if [ -z "$wine" ] || [ ! -f /usr/include/wine/wine/windows/oaidl.idl ]; then
  unavailable "Wine or its IDL files (libwine-dev) are not available"
fi

mkdir -p "$root/logs"
failures=()
# check NAME COMMAND...: runs a check (half an hour at most: a loaded
# machine is slow, a hung Wine never ends), its output in logs/NAME.log,
# shown when it fails.
check() {
  local name=$1
  shift
  local log="$root/logs/$name.log"
  if timeout 1800 "$@" >"$log" 2>&1; then
    say "ok      $name"
  else
    say "FAILED  $name (log: $log)"
    sed 's/^/    /' "$log" | tail -n 60
    failures+=("$name")
  fi
}

# --- Cross builds ------------------------------------------------------------
declare -A triplet=([32]=i686-w64-mingw32 [64]=x86_64-w64-mingw32)
for bits in 64 32; do
  build="$root/win$bits"
  toolchain="$PWD/cmake/toolchain-${triplet[$bits]}.cmake"
  log="$root/logs/build-win$bits.log"
  if ! { cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release \
           -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DPELLAR_BUILD_BENCHMARKS=OFF &&
         cmake --build "$build" -j"$jobs" \
           --target PellarLib platform_test pellar_client; } >"$log" 2>&1; then
    say "FAILED  build of the ${bits}-bit DLL (log: $log)"
    tail -n 40 "$log"
    exit 1
  fi
done
say "built both DLLs ($((SECONDS - started)) s)"

# --- A fresh Wine prefix -----------------------------------------------------
export WINEPREFIX="$root/wineprefix" WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installers
unset DISPLAY WAYLAND_DISPLAY
rm -rf "$WINEPREFIX"
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
"$wine" wineboot -i >"$root/logs/wineboot.log" 2>&1
# A crashing program ends at once instead of waiting in Wine's debugger.
"$wine" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
  /v Debugger /d '' /f >>"$root/logs/wineboot.log" 2>&1
# Z: is the root of the Unix file system.
winpath() { echo "Z:$(realpath -m "$1" | tr / '\\')"; }

# The 32-bit runs need the 32-bit Wine (package wine32:i386) and a kernel
# that runs 32-bit executables: find out which one is missing, if any.
bitnesses=(64)
wine32_loader=/usr/lib/wine/wine
why32=""
if [ -n "${PELLAR_WIN32_UNAVAILABLE:-}" ]; then
  why32=$PELLAR_WIN32_UNAVAILABLE  # ./test could not install it
elif [ ! -x "$wine32_loader" ]; then
  why32="wine32:i386 is not installed ($wine32_loader is missing)"
else
  "$wine" 'C:\windows\syswow64\cmd.exe' /d /c exit 7 >/dev/null 2>&1
  if [ $? -ne 7 ]; then
    probe=$("$wine32_loader" --version 2>&1)
    case $? in
      0) why32="32-bit Wine is installed but did not run cmd.exe" ;;
      126) why32="this kernel does not run 32-bit executables ($probe)" ;;
      *) why32="32-bit Wine did not start: $probe" ;;
    esac
  fi
fi
if [ -z "$why32" ]; then
  bitnesses+=(32)
else
  say "32-bit runs: not run ($why32); the 32-bit DLL is built and checked"
  say "as data only"
  if [ "${PELLAR_REQUIRE_WIN32:-0}" = 1 ]; then failures+=("32-bit Wine"); fi
fi
# Per bitness: its regsvr32, its DLL and its client.
declare -A regsvr32=([64]='C:\windows\system32\regsvr32.exe'
                     [32]='C:\windows\syswow64\regsvr32.exe')
declare -A dll client
for bits in 32 64; do
  dll[$bits]=$(winpath "$root/win$bits/src/PellarLib.dll")
  client[$bits]="$root/win$bits/tests/windows/pellar_client.exe"
done
check_register() {  # BITS NAME [/u]
  check "$2" "$wine" "${regsvr32[$1]}" /s ${3:-} "${dll[$1]}"
}
check_client() {  # BITS NAME FILTER
  check "$2" "$wine" "${client[$1]}" --gtest_filter="$3"
}
say "Wine prefix ready ($((SECONDS - started)) s)"

# --- Checks ------------------------------------------------------------------
for bits in "${bitnesses[@]}"; do
  check_register "$bits" "register-$bits"
done
for bits in "${bitnesses[@]}"; do
  check "platform-$bits" "$wine" "$root/win$bits/src/platform_test.exe"
  check_client "$bits" "client-$bits" 'Registered.*'
done
# The other bitness's DLL as data (all that is possible without 32-bit
# programs), and what both DLLs export and import.
check other-dll-64 env PELLAR_OTHER_DLL="${dll[32]}" \
  "$wine" "${client[64]}" --gtest_filter='OtherBitness.*'
check dll-exports-and-imports tests/windows/check_dll.sh \
  "$root/win32/src/PellarLib.dll" "$root/win64/src/PellarLib.dll"
check parity python3 tests/windows/parity.py --pellar "$pellar" --wine "$wine" \
  --bits "${bitnesses[@]}" --scripts tests/scripts \
  --example examples/report.vbs --example-mailer examples/mailer.sh \
  --work "$root/parity"
grep -h '^parity:' "$root/logs/parity.log" | sed 's/^/    /'
check installer tests/windows/installer.sh "$root" "$wine" "$pellar" && tail -n 1 "$root/logs/installer.log" | sed 's/^/    /'

# Unregistration: a programmatic identifier is shared by both bitnesses and
# stays while the other one still registers the class; at the end nothing
# may be left. Without 32-bit programs, a registration of the other view is
# pretended for one class.
if [[ " ${bitnesses[*]} " == *" 32 "* ]]; then
  check_register 32 unregister-32 /u
  check_client 32 unregister-32-keeps-shared 'StageThisUnregistered.*'
  check_client 64 unregister-32-64-still-works 'Registered.EveryClass*'
else
  check_client 64 fake-32-registration 'StageFakeOtherView.Write'
  check_register 64 unregister-64 /u
  check_client 64 unregister-64-keeps-shared 'StageThisUnregistered.*'
  check_client 64 fake-32-removed 'StageFakeOtherView.Remove'
  check_register 64 register-64-again
fi
check_register 64 unregister-64-last /u
check_client 64 nothing-left 'StageAllUnregistered.*'

say "done in $((SECONDS - started)) s"
if [ ${#failures[@]} -gt 0 ]; then
  say "FAILED: ${failures[*]}"
fi
say "bitnesses run: ${bitnesses[*]}${why32:+ (32: not run: $why32)}"
[ ${#failures[@]} -eq 0 ]
