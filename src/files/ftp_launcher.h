// The two files behind an FTP transfer: the command file that the FTP
// client reads, and the launcher that runs the client on it (a batch file
// for ftp.exe on Windows, a shell script for lftp on POSIX).
#ifndef PELLAR_FILES_FTP_LAUNCHER_H_
#define PELLAR_FILES_FTP_LAUNCHER_H_

#include <string>
#include <vector>

#include <pellar/base/text.h>

namespace pellar::files {

// The text before the last `separator` of `path`; the whole path when it
// holds none.
Text FolderPart(TextView path, char16_t separator);
// The text after the last `separator` of `path`; the whole path when it
// holds none.
Text FileNamePart(TextView path, char16_t separator);

// The six lines of the command file; `keyword` is "put" or "get".
std::vector<Text> FtpCommandLines(TextView site, TextView user,
                                  TextView password, TextView remote_path,
                                  TextView keyword, TextView filename);

// The three lines of the Windows batch file.
std::vector<Text> WindowsBatchLines(TextView bat_file, TextView txt_file);

// The POSIX shell script that stands in for the batch file: it changes to
// its own folder, translates the command file of that folder named
// `command_file_name` for lftp, feeds the result to lftp on standard input
// and leaves lftp's transcript and exit status in the command file's name
// followed by ".log". UTF-8 with LF line ends, as the shell reads it.
std::string PosixLauncherScript(TextView command_file_name);

}  // namespace pellar::files

#endif  // PELLAR_FILES_FTP_LAUNCHER_H_
