#!/bin/sh
# A real FTP transfer, end to end: a report run by pellar sends a file to a
# throw-away FTP server on 127.0.0.1 and fetches it back through the
# launchers that FTP.SendFile and FTP.GetFile write; the checksums of what
# arrived must match. A wrong password must fail in the transcript and
# move nothing.
#
# Usage: real_transfer.sh PELLAR SERVER_SCRIPT WORK_DIR
# Exits 77 (skipped) when lftp or Debian's python3-pyftpdlib is missing.
set -eu

pellar=$1
server_script=$2
work=$3
python=/usr/bin/python3

# Without its tools the test does not run (77), except under CI=true,
# where that is a failure.
unavailable() {
  echo "not run: $*"
  [ "${CI:-false}" = true ] && exit 1
  exit 77
}
command -v lftp >/dev/null 2>&1 ||
  unavailable "lftp is not installed (Debian package lftp)"
"$python" -c 'import pyftpdlib' 2>/dev/null ||
  unavailable "$python cannot import pyftpdlib (Debian package python3-pyftpdlib)"

fail() {
  echo "FAIL: $*"
  for log in "$work"/*/*.log; do
    [ -f "$log" ] && { echo "--- $log"; cat "$log"; }
  done
  echo "--- server log"
  tail -n 20 "$work/server.log" 2>/dev/null || true
  exit 1
}

server_pid=
stop_server() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
    server_pid=
  fi
}
trap stop_server EXIT
trap 'exit 1' INT TERM

rm -rf "$work"
mkdir -p "$work/root/in box" "$work/send dir" "$work/get dir" "$work/bad dir" \
  "$work/refused dir"

user='pellar user'
password='pass word "q" \!$x'
"$python" "$server_script" "$work/root" "$user" "$password" \
  >"$work/port" 2>"$work/server.log" &
server_pid=$!

# The server prints its port once it listens.
tries=0
until [ -s "$work/port" ]; do
  tries=$((tries + 1))
  [ "$tries" -le 100 ] || fail "the FTP server did not start"
  kill -0 "$server_pid" 2>/dev/null || fail "the FTP server stopped"
  sleep 0.1
done
port=$(head -n 1 "$work/port")

# Waits (at most 30 s) for the transcript $1 to end with its exit status
# and sets status to it.
wait_for_status() {
  tries=0
  until grep -q '^exit status: ' "$1" 2>/dev/null; do
    tries=$((tries + 1))
    [ "$tries" -le 300 ] || fail "no exit status in $1 after 30 s"
    sleep 0.1
  done
  status=$(sed -n 's/^exit status: //p' "$1")
}

sha() { sha256sum <"$1" | cut -d' ' -f1; }

payload="$work/send dir/pay load.bin"
head -c 3000000 /dev/urandom >"$payload"

# VBScript doubles the quotes inside a string.
vbs_password=$(printf '%s' "$password" | sed 's/"/""/g')
site="127.0.0.1 $port"

# Send: an absolute launcher path with blanks, and a link planted where the
# transcript will go, which must not be written through.
printf 'victim' >"$work/victim"
ln -s "$work/victim" "$work/send dir/send it.txt.log"
cat >"$work/send dir/send.vbs" <<EOF
Set ftp = CreateObject("PellarLib.FTP")
WScript.Echo ftp.SendFile("$work/send dir/send it.sh", "send it.txt", "$site", "$user", "$vbs_password", "in box", "pay load.bin", True)
WScript.Echo "done"
EOF
out=$(cd "$work/send dir" && "$pellar" run send.vbs) || fail "pellar failed: $out"
[ "$out" = "pay load.bin sent
done" ] || fail "unexpected answer: $out"
wait_for_status "$work/send dir/send it.txt.log"
[ "$status" = 0 ] || fail "send ended with status $status"
[ "$(sha "$work/root/in box/pay load.bin")" = "$(sha "$payload")" ] ||
  fail "the file that arrived differs from the one sent"
[ "$(cat "$work/victim")" = victim ] || fail "the transcript went through a link"
[ -f "$work/send dir/send it.txt.log" ] && [ ! -L "$work/send dir/send it.txt.log" ] ||
  fail "the transcript is not a file of its own"

# Get: a relative launcher path, in the folder where the file shall land.
cat >"$work/get dir/get.vbs" <<EOF
Set ftp = CreateObject("PellarLib.FTP")
WScript.Echo ftp.GetFile("get.sh", "get.txt", "$site", "$user", "$vbs_password", "in box", "pay load.bin", True)
WScript.Echo "done"
EOF
out=$(cd "$work/get dir" && "$pellar" run get.vbs) || fail "pellar failed: $out"
[ "$out" = "pay load.bin retrieved
done" ] || fail "unexpected answer: $out"
wait_for_status "$work/get dir/get.txt.log"
[ "$status" = 0 ] || fail "get ended with status $status"
[ "$(sha "$work/get dir/pay load.bin")" = "$(sha "$payload")" ] ||
  fail "the file fetched differs from the one sent"

# A wrong password that would run commands if anything executed it.
cat >"$work/bad dir/bad.vbs" <<EOF
Set ftp = CreateObject("PellarLib.FTP")
WScript.Echo ftp.GetFile("bad.sh", "bad.txt", "$site", "$user", "x; touch pwned; touch pwned2 && touch pwned3", "in box", "pay load.bin", True)
WScript.Echo "done"
EOF
out=$(cd "$work/bad dir" && "$pellar" run bad.vbs) || fail "pellar failed: $out"
wait_for_status "$work/bad dir/bad.txt.log"
[ "$status" != 0 ] || fail "a wrong password ended with status 0"
grep -q 'Login failed' "$work/bad dir/bad.txt.log" ||
  fail "the transcript does not tell the failed login"
if grep -q 'touch' "$work/bad dir/bad.txt.log"; then
  fail "the transcript shows the password"
fi
left=$(cd "$work/bad dir" && ls -A | sort | tr '\n' ' ')
[ "$left" = "bad.sh bad.txt bad.txt.log bad.vbs " ] ||
  fail "a failed login left more than its own files: $left"

# Values the library refuses write nothing and start nothing: a URL would
# let lftp reach another site or the local disk, a "!" line runs a command
# under ftp.exe.
cat >"$work/refused dir/refused.vbs" <<EOF
Set ftp = CreateObject("PellarLib.FTP")
WScript.Echo ftp.SendFile("r.sh", "r.txt", "$site", "$user", "$vbs_password", "file://$work/refused dir", "pay load.bin", True)
WScript.Echo ftp.GetFile("r.sh", "r.txt", "$site", "!touch pwned", "$vbs_password", "in box", "pay load.bin", True)
WScript.Echo "done"
EOF
out=$(cd "$work/refused dir" && "$pellar" run refused.vbs) || fail "pellar failed: $out"
[ "$out" = "FTP values cannot hold URLs
FTP values cannot start with !
done" ] || fail "unexpected answer: $out"
sleep 1
left=$(cd "$work/refused dir" && ls -A | tr '\n' ' ')
[ "$left" = "refused.vbs " ] || fail "a refused call left files: $left"

stop_server
echo "PASS: sent and fetched 3000000 bytes; a wrong password failed cleanly; refused values wrote nothing; a planted link was not followed"
