// PellarLib.FTP. Each call writes a launcher and a command file and, unless
// it is a dry run, starts the launcher without waiting: the library never
// learns how the transfer ended (the POSIX launcher leaves a transcript).
#include <pellar/files/ftp.h>

#include <memory>
#include <string>

#include <pellar/base/failure.h>
#include <pellar/files/ftp_launcher.h>
#include <pellar/io/textfile.h>
#include <pellar/platform/platform.h>

namespace pellar {
namespace {

enum class Direction { kSend, kGet };

// Whether the host of `site` begins as lftp reads a URL or a bookmark
// ("file:", "bm:", "slot:", "ftp:", in any case): letters, then letters,
// digits, "+", "." or "-", then ":". An IPv6 address is none. The POSIX
// launcher gives paths and the user so that lftp reads them as such; a host
// has no such form, so it is refused.
bool SiteIsUrl(const Text& site) {
  auto alpha = [](char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
  };
  const size_t start = site.find_first_not_of(u' ');
  if (start == Text::npos) return false;
  const TextView host = TextView(site).substr(start);
  const size_t colon = host.find(u':');
  if (colon == TextView::npos || !alpha(host[0])) return false;
  for (char16_t c : host.substr(0, colon)) {
    if (!alpha(c) && !(c >= u'0' && c <= u'9') && c != u'+' && c != u'.' &&
        c != u'-') {
      return false;
    }
  }
  const TextView word = host.substr(0, host.find(u' '));
  return word.find_first_not_of(u"0123456789abcdefABCDEF:.") != TextView::npos;
}

// Why a set of FTP values cannot be written, or "" when they can. A line
// break would start a command of its own in the command file; a URL makes
// the POSIX client open another site or the local disk instead of `Site`; a
// NUL is dropped on the way and names another file; on Windows, a User or
// Password line whose first non-blank character is "!" is run as a local
// command by ftp.exe when the connection fails. lftp reads the user and
// password as values only, so elsewhere "!Secret1" is a password like any.
TextView Refusal(const Text& site, const Text& user, const Text& password,
                 const Text& remote_path, const Text& filename, bool windows) {
  const Text* values[] = {&site, &user, &password, &remote_path, &filename};
  for (const Text* value : values) {
    if (value->find_first_of(u"\r\n") != Text::npos) {
      return u"FTP values cannot hold line breaks";
    }
  }
  for (const Text* value : values) {
    if (value->find(u"://") != Text::npos) return u"FTP values cannot hold URLs";
  }
  if (SiteIsUrl(site)) return u"FTP values cannot hold URLs";
  for (const Text* value : values) {
    if (value->find(u'\0') != Text::npos) {
      return u"FTP values cannot hold NUL characters";
    }
  }
  for (const Text* value : {&user, &password}) {
    const size_t first = value->find_first_not_of(u" \t");
    if (windows && first != Text::npos && (*value)[first] == u'!') {
      return u"FTP values cannot start with !";
    }
  }
  return {};
}

// The launcher for the platform: the batch file of ftp.exe where the
// separator is "\", a shell script for lftp elsewhere. Both hold nothing
// secret, but only their owner needs to run them.
void WriteLauncher(Platform& platform, TextView bat_file, TextView txt_file) {
  if (platform.Separator() == u'\\') {
    TextWriter writer =
        TextWriter::Create(bat_file, FileAccess::kPrivateExecutable);
    for (const Text& line : files::WindowsBatchLines(bat_file, txt_file)) {
      writer.WriteLine(line);
    }
    writer.Close();
    return;
  }
  std::unique_ptr<WritableFile> file =
      platform.NewWritableFile(bat_file, FileAccess::kPrivateExecutable);
  file->Append(files::PosixLauncherScript(
      files::FileNamePart(txt_file, platform.Separator())));
  file->Close();
}

Text Transfer(Direction direction, const Text& bat_file, const Text& txt_file,
              const Text& site, const Text& user, const Text& password,
              const Text& remote_path, const Text& filename, bool now) {
  Platform& platform = Platform::Current();
  const TextView refusal = Refusal(site, user, password, remote_path, filename,
                                   platform.Separator() == u'\\');
  if (!refusal.empty()) return Text(refusal);
  // The POSIX launcher writes its transcript to the fresh name
  // ".NAME.log.XXXXXX" beside the command file: a name too long for the file
  // system would let it end before lftp ran, after "sent" was answered. It
  // fails now, as a file that cannot be created does.
  constexpr size_t kNameMax = 255, kTranscriptExtra = 12;
  if (platform.Separator() == u'/' &&
      ToUtf8(files::FileNamePart(txt_file, u'/')).size() + kTranscriptExtra >
          kNameMax) {
    throw Failure(error::kBadFileName);
  }
  const bool send = direction == Direction::kSend;
  WriteLauncher(platform, bat_file, txt_file);

  // The password stands in clear text: only the owner may read the file.
  TextWriter commands = TextWriter::Create(txt_file, FileAccess::kPrivate);
  for (const Text& line :
       files::FtpCommandLines(site, user, password, remote_path,
                              send ? u"put" : u"get", filename)) {
    commands.WriteLine(line);
  }
  commands.Close();

  if (!now) {
    return bat_file + (send
                           ? u" test FTP command file built but not sent"
                           : u" test FTP command file built but not retrieved");
  }
  // Quoted, the path stays one program name even with blanks; a quote
  // inside it would end the quoting and start another program.
  if (bat_file.find(u'"') != Text::npos) throw Failure(error::kBadFileName);
  platform.StartProcess(u"\"" + bat_file + u"\"",
                        WindowStyle::kMinimizedNoFocus);
  return filename + (send ? u" sent" : u" retrieved");
}

}  // namespace

Text FTP::SendFile(Text& BATFile, Text& TXTFile, Text& Site, Text& User,
                   Text& Password, Text& RemotePath, Text& Filename,
                   bool& SendNow) {
  return Transfer(Direction::kSend, BATFile, TXTFile, Site, User, Password,
                  RemotePath, Filename, SendNow);
}

Text FTP::GetFile(Text& BATFile, Text& TXTFile, Text& Site, Text& User,
                  Text& Password, Text& RemotePath, Text& Filename,
                  bool& GetNow) {
  return Transfer(Direction::kGet, BATFile, TXTFile, Site, User, Password,
                  RemotePath, Filename, GetNow);
}

}  // namespace pellar
