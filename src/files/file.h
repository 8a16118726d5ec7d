// PellarLib.File: test, delete, rename, copy and move files.
#ifndef PELLAR_FILES_FILE_H_
#define PELLAR_FILES_FILE_H_

#include <pellar/base/export.h>
#include <pellar/base/text.h>

namespace pellar {

class PELLAR_EXPORT File {
 public:
  bool Exists(Text& sFile);
  Text Delete(Text& sFile);
  Text Rename(Text& sFrom, Text& sTo);
  Text Copy(Text& sFrom, Text& sTo);
  Text Move(Text& sFrom, Text& sTo);
};

}  // namespace pellar

#endif  // PELLAR_FILES_FILE_H_
