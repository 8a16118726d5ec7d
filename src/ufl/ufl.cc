#include <pellar/base/text_internal.h>
#include <pellar/ufl/ufl.h>

#include <pellar/io/identity.h>
#include <pellar/platform/platform.h>

namespace pellar {

Text UFL::Help(const Text& HelpCommand) {
  const Text command = Lower(HelpCommand);
  const LibraryInfo info = GetLibraryInfo();
  if (command == u"about") {
    return info.file_description + u" (c)" +
           ZeroPadded(Platform::Current().LocalTime().year, 4) +
           info.company_name;
  }
  if (command == u"version") {
    return info.exe_name + u" " + Decimal(info.major) + u"." +
           Decimal(info.minor) + u" (" + Decimal(info.revision) + u")";
  }
  if (command == u"installedfolder") return info.path;
  if (command == u"startlog") {
    ClearActivityLog();
    return Text();
  }
  if (command == u"savelog") {
    SaveLog();
    return Text();
  }
  if (command == u"productdescription") return info.file_description;
  if (command == u"developer") return GetDeveloper();
  if (command == u"applicationname") return GetApplicationName();
  return Text();
}

}  // namespace pellar
