#include <pellar/files/ftp_launcher.h>

namespace pellar::files {
namespace {

// The translation runs when the script runs, so the command file stays the
// one description of the transfer, as the user may have edited it. Every
// value reaches lftp in double quotes on its standard input: the password
// never stands on a command line and is never read as a command, not even
// when the connection fails.
constexpr char kScriptHead[] = R"sh(#!/bin/sh
# FTP transfer written by PellarLib. Runs lftp on the FTP command file named
# below, which is expected in this script's folder, and leaves lftp's
# transcript and exit status in that file's name followed by ".log". The
# command file holds the password: lftp gets it on standard input, never on
# a command line.
)sh";

constexpr char kScriptBody[] = R"sh(
case $0 in */*) cd -- "${0%/*}/" || exit 1 ;; esac
umask 077
# The transcript is written to a fresh file (mode 0600, never through a
# link planted at its name) and renamed into place at the end.
log=$(mktemp -- ".$cmd.log.XXXXXX") || exit 2
exec >"$log" 2>&1 </dev/null

cr=$(printf '\r')

# Sets quoted to $1 in double quotes for lftp, \ and " escaped.
quote() {
  rest=$1
  quoted=
  while :; do
    case $rest in
      *[\\\"]*) ;;
      *) break ;;
    esac
    head=${rest%%[\\\"]*}
    rest=${rest#"$head"}
    quoted=$quoted$head\\${rest%"${rest#?}"}
    rest=${rest#?}
  done
  quoted=\"$quoted$rest\"
}

# Whether $1 begins as lftp reads a URL or bookmark ("file:", "bm:", "slot:",
# "ftp:", ...): letters, then letters, digits, "+", "." or "-", then ":". An
# IPv6 address (hex digits, colons and dots only) is none.
is_url() {
  case $1 in
    [A-Za-z]*:*) ;;
    *) return 1 ;;
  esac
  case ${1%%:*} in
    *[!A-Za-z0-9+.-]*) return 1 ;;
  esac
  case $1 in
    *[!0-9A-Fa-f:.]*) return 0 ;;
  esac
  return 1
}

# Sets path to $1 as a path lftp cannot read as a URL, a bookmark or an
# option: a relative one begins with "./".
as_path() {
  case $1 in
    /*) path=$1 ;;
    *) path=./$1 ;;
  esac
}

# Reads the six lines of the command file and has lftp do what they say.
transfer() {
  IFS= read -r open_line && IFS= read -r user && IFS= read -r pass &&
    IFS= read -r cd_line && IFS= read -r xfer_line &&
    IFS= read -r quit_line || {
    printf '%s\n' "$cmd does not hold the six lines of an FTP command file"
    return 2
  }
  open_line=${open_line%"$cr"} user=${user%"$cr"} pass=${pass%"$cr"}
  cd_line=${cd_line%"$cr"} xfer_line=${xfer_line%"$cr"}
  quit_line=${quit_line%"$cr"}
  case $open_line in
    [Oo][Pp][Ee][Nn]) site= ;;
    [Oo][Pp][Ee][Nn]' '*) site=${open_line#?????} ;;
    *) printf '%s\n' "line 1 of $cmd is not Open"; return 2 ;;
  esac
  # "Open host port": a port may follow the host after a blank.
  site=${site#"${site%%[! ]*}"}
  site=${site%"${site##*[! ]}"}
  host=${site%%' '*}
  port=${site#"$host"}
  port=${port#"${port%%[! ]*}"}
  case $host in
    '') printf '%s\n' "$cmd names no site"; return 2 ;;
    -*) printf '%s\n' "$cmd names an invalid site: $host"; return 2 ;;
  esac
  if is_url "$host"; then
    printf '%s\n' "$cmd names an invalid site: $host"
    return 2
  fi
  case $port in
    *[!0-9]*) printf '%s\n' "$cmd names an invalid port: $port"; return 2 ;;
  esac
  case $cd_line in
    [Cc][Dd]) dir= ;;
    [Cc][Dd]' '*) dir=${cd_line#???} ;;
    *) printf '%s\n' "line 4 of $cmd is not cd"; return 2 ;;
  esac
  case $xfer_line in
    [Pp][Uu][Tt]' '*) verb=put ;;
    [Gg][Ee][Tt]' '*) verb=get ;;
    *) printf '%s\n' "line 5 of $cmd is neither put nor get"; return 2 ;;
  esac
  name=${xfer_line#????}
  # The file keeps its name on the other side, as lftp would give it; named
  # here, that name cannot be read as a URL either.
  base=${name##*/}
  if [ -z "$base" ]; then
    printf '%s\n' "$cmd names no file"
    return 2
  fi
  case $quit_line in
    [Qq][Uu][Ii][Tt]) ;;
    *) printf '%s\n' "line 6 of $cmd is not Quit"; return 2 ;;
  esac

  # Bookmarks are never looked up (-B), and the user goes as an option of
  # open: lftp's own "user" command would read a URL there. No user: lftp
  # logs in anonymously.
  open_cmd="open -B${port:+ -p $port}"
  if [ -n "$user" ]; then
    quote "$user"
    open_cmd="$open_cmd --user $quoted"
    quote "$pass"
    open_cmd="$open_cmd --password $quoted"
  fi
  quote "$host"
  open_cmd="$open_cmd -- $quoted"
  # Every path is one on the site opened: a relative one goes as "./PATH",
  # which lftp never reads as a URL (file:, bm:, ...), a bookmark or an
  # option, on either side of the transfer.
  cd_cmd= where=
  if [ -n "$dir" ]; then
    as_path "$dir"
    quote "$path"
    cd_cmd="cd $quoted"
    quote "$dir"
    where=" in folder $quoted"
  fi
  as_path "$name"
  quote "$path"
  xfer_cmd="$verb $quoted"
  quote "./$base"
  xfer_cmd="$xfer_cmd -o $quoted"
  quote "$name"
  # A get that fails keeps the local file it would have replaced.
  temp_file=no
  if [ "$verb" = get ]; then temp_file=yes; fi

  printf '%s\n' "$verb $quoted$where at $host${port:+ port $port}"
  limit=
  if command -v timeout >/dev/null 2>&1; then limit='timeout -k 10 3600'; fi
  $limit lftp -f /dev/stdin <<LFTP
set cmd:interactive no
set cmd:fail-exit yes
set net:max-retries 2
set net:timeout 10
set net:reconnect-interval-base 1
set ftp:ssl-allow no
set xfer:clobber yes
set xfer:log no
set xfer:use-temp-file $temp_file
$open_cmd
$cd_cmd
$xfer_cmd
quit
LFTP
}

if [ ! -r "$cmd" ]; then
  printf '%s\n' "cannot read the FTP command file $cmd"
  status=2
elif ! command -v lftp >/dev/null 2>&1; then
  printf '%s\n' "lftp is not installed"
  status=127
# The command file is Windows-1252 text; names on disk are UTF-8.
elif ! text=$(if command -v iconv >/dev/null 2>&1; then
                iconv -f WINDOWS-1252 -t UTF-8 <"$cmd"
              else
                cat <"$cmd"
              fi); then
  printf '%s\n' "cannot read $cmd as Windows-1252 text"
  status=2
else
  transfer <<TEXT
$text
TEXT
  status=$?
fi
printf '%s\n' "exit status: $status"
exec >/dev/null 2>&1
mv -f -T -- "$log" "$cmd.log"
exit "$status"
)sh";

Text Before(TextView path, size_t cut) {
  return Text(cut == TextView::npos ? path : path.substr(0, cut));
}

// `text` as one single-quoted shell word.
std::string ShellQuoted(TextView text) {
  std::string quoted = "'";
  for (char c : ToUtf8(text)) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted.push_back(c);
    }
  }
  quoted.push_back('\'');
  return quoted;
}

}  // namespace

Text FolderPart(TextView path, char16_t separator) {
  return Before(path, path.rfind(separator));
}

Text FileNamePart(TextView path, char16_t separator) {
  const size_t cut = path.rfind(separator);
  return Text(cut == TextView::npos ? path : path.substr(cut + 1));
}

std::vector<Text> FtpCommandLines(TextView site, TextView user,
                                  TextView password, TextView remote_path,
                                  TextView keyword, TextView filename) {
  return {u"Open " + Text(site),
          Text(user),
          Text(password),
          u"cd " + Text(remote_path),
          Text(keyword) + u" " + Text(filename),
          u"Quit"};
}

std::vector<Text> WindowsBatchLines(TextView bat_file, TextView txt_file) {
  return {u"cd \\" + FolderPart(bat_file, u'\\'),
          u"ftp.exe -s:" + FileNamePart(txt_file, u'\\'), u"exit"};
}

std::string PosixLauncherScript(TextView command_file_name) {
  std::string script = kScriptHead;
  script += "cmd=" + ShellQuoted(command_file_name) + "\n";
  script += kScriptBody;
  return script;
}

}  // namespace pellar::files
