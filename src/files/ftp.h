// PellarLib.FTP: one file sent or fetched per call through a generated
// batch file and FTP command file.
#ifndef PELLAR_FILES_FTP_H_
#define PELLAR_FILES_FTP_H_

#include <pellar/base/export.h>
#include <pellar/base/text.h>

namespace pellar {

class PELLAR_EXPORT FTP {
 public:
  Text SendFile(Text& BATFile, Text& TXTFile, Text& Site, Text& User,
                Text& Password, Text& RemotePath, Text& Filename,
                bool& SendNow);
  Text GetFile(Text& BATFile, Text& TXTFile, Text& Site, Text& User,
               Text& Password, Text& RemotePath, Text& Filename, bool& GetNow);
};

}  // namespace pellar

#endif  // PELLAR_FILES_FTP_H_
