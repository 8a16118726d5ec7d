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

server_pid= decoy_pid=
stop_server() {
  for pid in $server_pid $decoy_pid; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  server_pid= decoy_pid=
}
trap stop_server EXIT
trap 'exit 1' INT TERM

rm -rf "$work"
mkdir -p "$work/root/in box" "$work/send dir" "$work/get dir" "$work/bad dir" \
  "$work/refused dir"

user='pellar user'
# lftp reads a password beginning with "!" as a password.
password='!pass word "q" \!$x'
"$python" "$server_script" "$work/root" "$user" "$password" \
  >"$work/port" 2>"$work/server.log" &
server_pid=$!

# Patience for what another process does: about five minutes in tenths of
# a second, as a loaded machine may need; only a failure waits it out.
patience=3000

# Waits for the server $2 (a process id) to print its port, once it
# listens, as the first line of the file $1, and sets port to it.
wait_for_port() {
  tries=0
  until [ "$(wc -l <"$1")" -ge 1 ]; do
    tries=$((tries + 1))
    [ "$tries" -le "$patience" ] || fail "the FTP server did not start"
    kill -0 "$2" 2>/dev/null || fail "the FTP server stopped"
    sleep 0.1
  done
  port=$(head -n 1 "$1")
}
wait_for_port "$work/port" "$server_pid"
server_port=$port

# Waits for the transcript $1, which the launcher renames into place once
# it ends with its exit status, and sets status to it.
wait_for_status() {
  tries=0
  until grep -q '^exit status: ' "$1" 2>/dev/null; do
    tries=$((tries + 1))
    [ "$tries" -le "$patience" ] || fail "no exit status in $1 after $((patience / 10)) s"
    sleep 0.1
  done
  status=$(sed -n 's/^exit status: //p' "$1")
}

sha() { sha256sum <"$1" | cut -d' ' -f1; }

payload="$work/send dir/pay load.bin"
head -c 3000000 /dev/urandom >"$payload"

# VBScript doubles the quotes inside a string.
vbs_password=$(printf '%s' "$password" | sed 's/"/""/g')
site="127.0.0.1 $server_port"

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

# Values the library refuses write nothing and start nothing: a URL as the
# site would let lftp reach another site or the local disk.
cat >"$work/refused dir/refused.vbs" <<EOF
Set ftp = CreateObject("PellarLib.FTP")
WScript.Echo ftp.SendFile("r.sh", "r.txt", "$site", "$user", "$vbs_password", "file://$work/refused dir", "pay load.bin", True)
WScript.Echo ftp.GetFile("r.sh", "r.txt", "file:$work/refused dir", "", "", "", "pay load.bin", True)
WScript.Echo "done"
EOF
out=$(cd "$work/refused dir" && "$pellar" run refused.vbs) || fail "pellar failed: $out"
[ "$out" = "FTP values cannot hold URLs
FTP values cannot hold URLs
done" ] || fail "unexpected answer: $out"
# A call writes its launcher before it starts it: one that wrote or started
# anything has left a file by the time pellar ends.
left=$(cd "$work/refused dir" && ls -A | tr '\n' ' ')
[ "$left" = "refused.vbs " ] || fail "a refused call left files: $left"

# lftp reads "file:", "bm:", "slot:" and every scheme it knows, in any
# command, as the local disk, a bookmark or another site. Each scheme, with
# and without slashes, in each of the five values, sent and fetched at once:
# no file outside the calls' own is read or written, and a decoy server,
# which lftp's bookmarks name, is never contacted.
cat_dir="$work/catalogue"
outside="$work/outside"
home="$work/home"
mkdir -p "$cat_dir" "$outside" "$work/decoy" "$home/.local/share/lftp"
printf 'SECRET-%s' "$$" >"$outside/secret.txt"
chmod 600 "$outside/secret.txt"
"$python" "$server_script" "$work/decoy" u p >"$work/decoy.port" \
  2>"$work/decoy.log" &
decoy_pid=$!
wait_for_port "$work/decoy.port" "$decoy_pid"
decoy="ftp://u:p@127.0.0.1:$port/"
printf 'decoy\t%s\ndecoy.invalid\t%s\n' "$decoy" "$decoy" \
  >"$home/.local/share/lftp/bookmarks"
listing() {
  (cd "$work" && find outside root -exec ls -ld --time-style=+%s {} + | sort)
}
before=$(listing)

n=0
{
  echo 'Set ftp = CreateObject("PellarLib.FTP")'
  for scheme in file bm slot ftp ftps sftp http https hftp fish torrent \
    FILE Bm sLoT HtTpS; do
    values="$scheme:$outside/secret.txt"
    case $scheme in bm | Bm | slot | sLoT) values="$values $scheme:decoy/x" ;; esac
    for value in $values "$scheme://127.0.0.1$outside/"; do
      for field in 1 2 3 4 5; do
        for verb in Send Get; do
          n=$((n + 1))
          set -- "$site" "$user" "$vbs_password" "in box" "pay load.bin"
          case $field in
            1) set -- "$value" "$2" "$3" "$4" "$5" ;;
            2) set -- "$1" "$value" "$3" "$4" "$5" ;;
            3) set -- "$1" "$2" "$value" "$4" "$5" ;;
            4) set -- "$1" "$2" "$3" "$value" "$5" ;;
            5) set -- "$1" "$2" "$3" "$4" "$value" ;;
          esac
          printf 'WScript.Echo ftp.%sFile("c%s.sh", "c%s.txt", "%s", "%s", "%s", "%s", "%s", True)\n' \
            "$verb" "$n" "$n" "$1" "$2" "$3" "$4" "$5"
        done
      done
    done
  done
  # A site that names a bookmark is a host name, never the bookmark.
  echo 'WScript.Echo ftp.GetFile("b.sh", "b.txt", "decoy.invalid", "", "", "", "x", True)'
  echo 'WScript.Echo "done"'
} >"$cat_dir/catalogue.vbs"
out=$(cd "$cat_dir" && HOME=$home XDG_DATA_HOME=$home/.local/share \
  "$pellar" run catalogue.vbs) || fail "pellar failed: $out"
unexpected=$(printf '%s\n' "$out" | grep -v -e '^FTP values cannot hold URLs$' \
  -e ' sent$' -e ' retrieved$' -e '^done$' || true)
[ -z "$unexpected" ] || fail "unexpected answers: $unexpected"
started=$(cd "$cat_dir" && ls ./*.sh | wc -l)
[ "$started" -gt 100 ] || fail "only $started of the catalogue's $n calls ran"
for launcher in "$cat_dir"/*.sh; do
  wait_for_status "${launcher%.sh}.txt.log"
  [ "$status" = 1 ] || fail "${launcher%.sh}.txt.log ended with status $status"
done
stray=$(cd "$cat_dir" && ls -A | grep -v -e '\.sh$' -e '\.txt$' \
  -e '\.txt\.log$' -e '^catalogue\.vbs$' || true)
[ -z "$stray" ] || fail "the catalogue left files: $stray"
[ "$before" = "$(listing)" ] || fail "files outside the calls changed"
if grep -r -l "SECRET-$$" "$work" | grep -v "^$outside/"; then
  fail "the secret was copied"
fi
if grep -q 'session opened' "$work/decoy.log"; then
  fail "the decoy server was contacted"
fi

stop_server
echo "PASS: sent and fetched 3000000 bytes; a wrong password failed cleanly; refused values wrote nothing; a planted link was not followed; $n calls with URLs reached nothing else"
