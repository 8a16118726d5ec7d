#include "files/file_ops.h"

#include <cstdint>
#include <random>

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

Text TemporarySibling(Platform& platform, TextView path) {
  const char16_t separator = platform.Separator();
  // Windows also takes "/" and a drive's "C:" as the end of a folder part.
  const TextView ends =
      separator == u'\\' ? TextView(u"\\/:") : TextView(&separator, 1);
  const size_t cut = path.find_last_of(ends);
  Text temp(cut == TextView::npos ? TextView() : path.substr(0, cut + 1));
  // Random, so that copies running at the same time never share a name.
  thread_local std::mt19937_64 random{std::random_device{}()};
  uint64_t n = random();
  temp += u".~pellar-";
  for (int i = 0; i < 16; ++i, n >>= 4) {
    temp.push_back(u"0123456789abcdef"[n & 15]);
  }
  temp += u".tmp";
  return temp;
}

void DeleteQuietly(Platform& platform, TextView path) noexcept {
  try {
    platform.DeleteFile(path);
  } catch (...) {
  }
}

}  // namespace pellar::files
