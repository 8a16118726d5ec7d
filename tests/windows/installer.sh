#!/usr/bin/env bash
# The Windows installer package under Wine, called by run.sh once both DLLs
# are cross-built. Builds PellarLib.msi with wixl from the generated
# programs/com/generated/PellarLib.wxs, and a copy one revision higher, then in a
# fresh Wine prefix of its own:
#   - registers the built DLLs with regsvr32 and unregisters them, and
#     compares what that wrote with what installing the package writes;
#   - installs the package silently, checks its files, creates every class
#     from a VBScript under each bitness's cscript and runs the C++ client's
#     registration checks;
#   - installs the higher revision over it (one product left, in place);
#   - uninstalls silently and checks that no file or registry value is left.
# Bitnesses whose programs cannot run here are skipped (run.sh says why).
#
# usage: tests/windows/installer.sh BUILD_ROOT WINE NATIVE_PELLAR
#   BUILD_ROOT     run.sh's build root (win32/, win64/); the package lands in
#                  BUILD_ROOT/installer/PellarLib.msi
#   WINE           the wine64 loader
#   NATIVE_PELLAR  the native script host (the version the DLLs report)
# Prints the bitnesses run on its last line; exit status 1 when a check
# fails.
set -uo pipefail

root=$(realpath -m "$1")
wine=$2
pellar=$(realpath "$3")
cd "$(dirname "$0")/../.."
work="$root/installer"
rm -rf "$work"
mkdir -p "$work/newer" "$work/state"
failures=()
fail() {  # NAME [DETAIL]
  echo "FAILED: $1"
  [ $# -lt 2 ] || echo "$2" | sed 's/^/    /'
  failures+=("$1")
}
state() { python3 tests/windows/registry_state.py "$@"; }
winpath() { echo "Z:$(realpath -m "$1" | tr / '\\')"; }

for tool in wixl msiinfo; do
  if ! command -v "$tool" >/dev/null; then
    echo "installer: not run: $tool (Debian packages wixl, msitools) is missing"
    [ "${CI:-false}" = true ] && exit 1
    exit 0
  fi
done

# --- The packages --------------------------------------------------------------
wxs=programs/com/generated/PellarLib.wxs
# wixl finds sources by relative paths only.
relative() { realpath -m --relative-to=. "$1"; }
build_msi() {  # WXS OUT
  wixl -a x64 -D Dll32="$(relative "$root/win32/src/PellarLib.dll")" \
    -D Dll64="$(relative "$root/win64/src/PellarLib.dll")" -D Readme=README.md \
    -D Licence=LICENCE -o "$2" "$1"
}
version=$(sed -n 's/.*<Product .* Version="\([0-9.]*\)".*/\1/p' "$wxs")
newer=${version%.*}.$((${version##*.} + 1))
sed "s/\(<Product .* Version=\"\)$version\"/\1$newer\"/" "$wxs" \
  >"$work/newer/PellarLib.wxs"
if ! build_msi "$wxs" "$work/PellarLib.msi" ||
   ! build_msi "$work/newer/PellarLib.wxs" "$work/newer/PellarLib.msi"; then
  echo "FAILED: wixl could not build the package"
  exit 1
fi
product_code() {
  msiinfo export "$1" Property | tr -d '\r' | awk '$1 == "ProductCode" { print $2 }'
}
echo "built PellarLib.msi $version and $newer"

# --- A fresh prefix --------------------------------------------------------------
export WINEPREFIX="$work/wineprefix" WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
"$wine" wineboot -i >/dev/null 2>&1
"$wine" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
  /v Debugger /d '' /f >/dev/null 2>&1
bitnesses=(64)
"$wine" 'C:\windows\syswow64\cmd.exe' /d /c exit 7 >/dev/null 2>&1
[ $? -eq 7 ] && bitnesses+=(32)
# The registry files are written once the server has gone idle.
snapshot() { wineserver -w; state snapshot "$WINEPREFIX" "$work/state/$1.json"; }
declare -A system=([64]='C:\windows\system32' [32]='C:\windows\syswow64')
declare -A installed=([64]='C:\Program Files\PellarLib'
                      [32]='C:\Program Files (x86)\PellarLib')

# Each script host registers its own type library when it first runs:
# before the snapshots, not between them.
echo 'WScript.Echo "done"' >"$work/warm-up.vbs"
for bits in "${bitnesses[@]}"; do
  (cd "$work" && "$wine" "${system[$bits]}\\cscript.exe" //nologo warm-up.vbs \
    >/dev/null 2>&1)
done

# --- Self-registration against the package's registry table ---------------------
snapshot self-before
self_dlls=()
for bits in "${bitnesses[@]}"; do
  dll=$(winpath "$root/win$bits/src/PellarLib.dll")
  self_dlls+=("$bits=$dll")
  "$wine" "${system[$bits]}\\regsvr32.exe" /s "$dll" ||
    fail "regsvr32-$bits"
done
snapshot self-after
for bits in "${bitnesses[@]}"; do
  "$wine" "${system[$bits]}\\regsvr32.exe" /s /u \
    "$(winpath "$root/win$bits/src/PellarLib.dll")"
done

# --- Silent install ------------------------------------------------------------------
snapshot before
"$wine" msiexec /i "$(winpath "$work/PellarLib.msi")" /qn || fail install
snapshot installed
state registration "$work/state/"{self-before,self-after,before,installed}.json \
  --bits "${bitnesses[@]}" --self-dll "${self_dlls[@]}" \
  --msi-dll "64=${installed[64]}\\PellarLib.dll" \
            "32=${installed[32]}\\PellarLib.dll" ||
  fail "registry entries of the package and of regsvr32 differ"
drive="$WINEPREFIX/drive_c"
for file in "Program Files/PellarLib/"{PellarLib.dll,README.txt,LICENCE.txt} \
            "Program Files (x86)/PellarLib/PellarLib.dll"; do
  [ -f "$drive/$file" ] || fail "not installed: $file"
done
cmp -s "$drive/Program Files (x86)/PellarLib/PellarLib.dll" \
  "$root/win32/src/PellarLib.dll" || fail "the 32-bit DLL is not the 32-bit one"

cp tests/windows/installer_client.vbs "$work/client.vbs"
for bits in "${bitnesses[@]}"; do
  expected=$(printf '%s\r\n' "$("$pellar" --version)" "${installed[$bits]}" \
             'Pellar Work Area Created (2 x 1)' done)
  actual=$(cd "$work" && "$wine" "${system[$bits]}\\cscript.exe" //nologo client.vbs)
  [ "$actual" = "$expected" ] ||
    fail "cscript-$bits" "$(printf 'got:\n%s' "$actual")"
  "$wine" "$root/win$bits/tests/windows/pellar_client.exe" \
    --gtest_filter='Registered.*' >"$work/client-$bits.log" 2>&1 ||
    { tail -n 30 "$work/client-$bits.log"; fail "client-$bits"; }
done

# --- A higher revision over it ----------------------------------------------------------
old_code=$(product_code "$work/PellarLib.msi")
[ "$(state products "$work/state/installed.json")" = "$old_code $version" ] ||
  fail "not installed as $old_code ($version)"
new_code=$(product_code "$work/newer/PellarLib.msi")
"$wine" msiexec /i "$(winpath "$work/newer/PellarLib.msi")" /qn || fail upgrade
snapshot upgraded
[ "$(state products "$work/state/upgraded.json")" = "$new_code $newer" ] ||
  fail "the upgrade did not replace $old_code ($version) by $new_code ($newer)" \
    "$(state products "$work/state/upgraded.json")"
state registration "$work/state/"{before,installed,before,upgraded}.json \
  --bits 64 32 --self-dll "64=${installed[64]}\\PellarLib.dll" \
  "32=${installed[32]}\\PellarLib.dll" \
  --msi-dll "64=${installed[64]}\\PellarLib.dll" \
            "32=${installed[32]}\\PellarLib.dll" >/dev/null ||
  fail "the upgrade changed the registry entries"
"$wine" "$root/win64/tests/windows/pellar_client.exe" \
  --gtest_filter='Registered.EveryClass*' >"$work/client-upgraded.log" 2>&1 ||
  fail "client after the upgrade"

# --- Silent uninstall ----------------------------------------------------------------
"$wine" msiexec /x "$(winpath "$work/newer/PellarLib.msi")" /qn || fail uninstall
snapshot removed
state same "$work/state/"{before,removed}.json || fail "uninstall left changes"

if [ ${#failures[@]} -gt 0 ]; then
  echo "installer: FAILED: ${failures[*]} (bitnesses run: ${bitnesses[*]})"
  exit 1
fi
echo "installer: installed, upgraded and removed (bitnesses run: ${bitnesses[*]})"
