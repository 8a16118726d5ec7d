# Sourced by ./test: install_packages PACKAGES... installs the Debian
# packages that are missing, in two steps:
#   1. every package but the i386 ones, even when some package index could
#      not be loaded (a mirror mid-sync, say): apt installs from the indexes
#      that did load;
#   2. the i386 ones (wine32:i386), whose failure only means that the
#      32-bit Windows runs cannot be made. It sets win32_reason to why.
# Nothing missing: no apt call at all, "packages: nothing to install".
#
# PELLAR_APT_FAIL_I386=1 adds, for this run only, an i386 package source
# whose index has the wrong size, as a mirror mid-sync serves it.
# Under CI=true a package of step 1 that cannot be installed fails the run.
win32_reason=""

_pkg_installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

# _pkg_broken_i386_source DIR: apt options for a copy of the system's
# source parts plus one i386 source whose index size is wrong.
_pkg_broken_i386_source() {
  local dir=$1 index
  mkdir -p "$dir/parts" "$dir/repo/dists/sync/main/binary-i386"
  cp /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources \
    "$dir/parts/" 2>/dev/null || true
  index=$dir/repo/dists/sync/main/binary-i386/Packages
  echo "Package: none" >"$index"
  printf '%s\n' 'Suite: sync' 'Codename: sync' 'Architectures: i386' \
    'Components: main' "Date: $(date -Ru)" 'SHA256:' \
    " $(sha256sum "$index" | cut -d' ' -f1) 999 main/binary-i386/Packages" \
    >"$dir/repo/dists/sync/Release"
  echo "deb [arch=i386 trusted=yes] file:$dir/repo sync main" \
    >"$dir/parts/sync-i386.list"
  echo "-o Dir::Etc::SourceParts=$dir/parts"
}

# _pkg_reason LOG: apt's first error line, without its "E: ".
_pkg_reason() {
  local line
  line=$(grep -m1 '^E: ' "$1" | sed 's/^E: //')
  echo "${line:-$(tail -n 1 "$1")}"
}

install_packages() {
  local ci=${CI:-false} p missing=() missing32=() apt_opts=() tmp log
  local index_reason=""
  for p in "$@"; do
    _pkg_installed "$p" && continue
    if [[ $p == *:i386 ]]; then missing32+=("$p"); else missing+=("$p"); fi
  done
  if [ ${#missing[@]} -eq 0 ] && [ ${#missing32[@]} -eq 0 ]; then
    echo "packages: nothing to install"
    return 0
  fi
  if [ "$(id -u)" != 0 ]; then
    echo "test: missing packages (run as root to install):" \
         "${missing[*]} ${missing32[*]}" >&2
    [ "$ci" = true ] && return 1
    [ ${#missing32[@]} -gt 0 ] &&
      win32_reason="${missing32[*]} is not installed (not run as root)"
    return 0
  fi
  tmp=$(mktemp -d "${TMPDIR:-/tmp}/pellar-apt.XXXXXX")
  log=$tmp/apt.log
  apt_opts=(-o Acquire::Retries=5)
  if [ "${PELLAR_APT_FAIL_I386:-0}" = 1 ]; then
    # shellcheck disable=SC2207
    apt_opts+=($(_pkg_broken_i386_source "$tmp"))
  fi
  if [ ${#missing32[@]} -gt 0 ] &&
     ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  echo "Installing: $(echo "${missing[*]} ${missing32[*]}")"
  # A failed index (exit status 100) leaves the others loaded: go on.
  if ! apt-get "${apt_opts[@]}" update -qq >"$log" 2>&1; then
    index_reason=$(_pkg_reason "$log")
    echo "packages: apt-get update: $index_reason; installing from" \
         "the indexes that loaded"
  fi
  if [ ${#missing[@]} -gt 0 ] &&
     ! DEBIAN_FRONTEND=noninteractive apt-get "${apt_opts[@]}" install -y -qq \
         --no-install-recommends "${missing[@]}" >"$log" 2>&1; then
    tail -n 20 "$log"
    echo "test: could not install ${missing[*]}: $(_pkg_reason "$log")" >&2
    rm -rf "$tmp"
    [ "$ci" = true ] && return 1
    [ ${#missing32[@]} -eq 0 ] && return 0
  fi
  if [ ${#missing32[@]} -gt 0 ] &&
     ! DEBIAN_FRONTEND=noninteractive apt-get "${apt_opts[@]}" install -y -qq \
         --no-install-recommends "${missing32[@]}" >"$log" 2>&1; then
    win32_reason="${missing32[*]} could not be installed: $(_pkg_reason "$log")"
    # apt's own words name only the symptom; a failed index is the cause.
    [ -n "$index_reason" ] &&
      win32_reason+=" (after a package index failed: $index_reason)"
    echo "packages: 32-bit runs: not run ($win32_reason)"
  fi
  rm -rf "$tmp"
  return 0
}
