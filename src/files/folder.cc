// PellarLib.Folder. Create and Rename trap their failures and answer
// "UFL Error: " and the failure's description; Exists answers false.
#include <pellar/files/folder.h>

#include <pellar/base/failure.h>
#include <pellar/files/file_ops.h>
#include <pellar/platform/platform.h>

namespace pellar {

using files::Trapped;

Text Folder::Create(Text& sFolder) {
  if (sFolder.empty()) return u"Folder cannot be blank";
  return Trapped(u"UFL Error: ", [&]() -> Text {
    Platform& platform = Platform::Current();
    if (!platform.Lookup(sFolder, LookupKind::kFolder).empty()) {
      return u"Folder already exists";
    }
    files::RequireSingleName(sFolder);
    platform.CreateFolder(sFolder);
    return u"Folder Created";
  });
}

bool Folder::Exists(Text& sFolder) {
  return files::Found(sFolder, LookupKind::kFolder);
}

Text Folder::Rename(Text& sFrom, Text& sTo) {
  if (sFrom.empty()) return u"UFL ERROR: From is blank";
  if (sTo.empty()) return u"UFL ERROR: To is blank";
  return Trapped(u"UFL Error: ", [&] {
    return files::RenameEntry(sFrom, sTo, LookupKind::kFolder,
                              u"Folder Renamed to ");
  });
}

}  // namespace pellar
