#include <pellar/files/file_ops.h>

namespace pellar::files {

bool Found(TextView name, LookupKind kind) noexcept {
  if (name.empty()) return false;
  try {
    return !Platform::Current().Lookup(name, kind).empty();
  } catch (...) {
    return false;
  }
}

void RequireSingleName(TextView path) {
  if (path.find_first_of(u"*?") != TextView::npos) {
    throw Failure(error::kBadFileName);
  }
}

bool IsFolder(Platform& platform, TextView path) {
  return platform.Lookup(path, LookupKind::kFile).empty() &&
         !platform.Lookup(path, LookupKind::kFolder).empty();
}

void DeleteQuietly(Platform& platform, TextView path) noexcept {
  try {
    platform.DeleteFile(path);
  } catch (...) {
  }
}

Text RenameEntry(const Text& from, const Text& to, LookupKind kind,
                 TextView done) {
  Platform& platform = Platform::Current();
  if (platform.Lookup(from, kind).empty()) {
    return u"UFL Error: Cannot find " + from;
  }
  if (!platform.Lookup(to, kind).empty()) {
    return u"UFL Error: " + to + u" already exists";
  }
  RequireSingleName(from);
  RequireSingleName(to);
  platform.Rename(from, to);
  return Text(done) + to;
}

}  // namespace pellar::files
