// PellarLib.Folder: create, test and rename folders.
#ifndef PELLAR_FILES_FOLDER_H_
#define PELLAR_FILES_FOLDER_H_

#include <pellar/base/export.h>
#include <pellar/base/text.h>

namespace pellar {

class PELLAR_EXPORT Folder {
 public:
  Text Create(Text& sFolder);
  bool Exists(Text& sFolder);
  Text Rename(Text& sFrom, Text& sTo);
};

}  // namespace pellar

#endif  // PELLAR_FILES_FOLDER_H_
