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

// Why a set of FTP values cannot be written, or "" when they can. A line
// break would start a command of its own in the command file; a URL makes
// the POSIX client open another site or the local disk instead of `Site`; a
// NUL is dropped on the way and names another file; a User or Password
// line beginning with "!" is run as a local command by ftp.exe when the
// connection fails. The command file is the same on every platform, so the
// refusals are too.
TextView Refusal(const Text& site, const Text& user, const Text& password,
                 const Text& remote_path, const Text& filename) {
  const Text* values[] = {&site, &user, &password, &remote_path, &filename};
  for (const Text* value : values) {
    if (value->find_first_of(u"\r\n") != Text::npos) {
      return u"FTP values cannot hold line breaks";
    }
  }
  for (const Text* value : values) {
    if (value->find(u"://") != Text::npos) return u"FTP values cannot hold URLs";
  }
  for (const Text* value : values) {
    if (value->find(u'\0') != Text::npos) {
      return u"FTP values cannot hold NUL characters";
    }
  }
  for (const Text* value : {&user, &password}) {
    if (!value->empty() && value->front() == u'!') {
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
  const TextView refusal = Refusal(site, user, password, remote_path, filename);
  if (!refusal.empty()) return Text(refusal);
  const bool send = direction == Direction::kSend;
  Platform& platform = Platform::Current();
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
