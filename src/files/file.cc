// PellarLib.File. Every method but Move traps its own failures: Exists
// answers false, Delete its "Cannot Delete" text, Rename and Copy "Error: "
// and the failure's description.
#include <pellar/base/failure_internal.h>
#include <pellar/files/file.h>

#include <pellar/files/file_ops.h>
#include <pellar/platform/platform.h>

namespace pellar {
namespace {

using files::Found;
using files::Trapped;

struct [[nodiscard]] CopyResult {
  bool copied = false;
  Text answer;
};

// The copy behind Copy and Move. The copy is made under a temporary name
// beside the destination and only then put in the destination's place, so
// a copy that fails leaves an existing destination as it was (and a file
// copied onto itself keeps its bytes).
CopyResult CopyFile(const Text& from, const Text& to) {
  if (from.empty()) return {false, u"From is blank"};
  if (to.empty()) return {false, u"UFL ERROR: To is blank"};
  CopyResult result;
  result.answer = Trapped(u"Error: ", [&]() -> Text {
    Platform& platform = Platform::Current();
    if (platform.Lookup(from, LookupKind::kFile).empty()) {
      return u"UFL Error: Cannot find " + from;
    }
    files::RequireSingleName(from);
    files::RequireSingleName(to);
    if (files::IsFolder(platform, to)) throw Failure(error::kPathFileAccess);
    // A device or FIFO is never replaced: refused before the copy is
    // written, so no temporary file lands beside it (in /dev, say).
    platform.CheckReplaceable(to);
    const Text temp = TemporarySibling(to, platform.Separator());
    try {
      platform.CopyFile(from, temp);
      platform.ReplaceFile(temp, to);
    } catch (...) {
      files::DeleteQuietly(platform, temp);
      throw;
    }
    result.copied = true;
    return u"File copied to " + to;
  });
  return result;
}

// Deletes every file matching `name`: true when there was one and all of
// them went. One that cannot go (read-only, in use) does not keep the
// others.
bool DeleteMatches(const Text& name) {
  try {
    Platform& platform = Platform::Current();
    const std::vector<Text> matches = platform.Lookup(name, LookupKind::kFile);
    bool all = !matches.empty();
    for (const Text& match : matches) {
      try {
        platform.DeleteFile(match);
      } catch (const Failure&) {
        all = false;
      }
    }
    return all;
  } catch (...) {
    // A failure, running out of memory included, is no deletion.
    static_cast<void>(CaughtFailure());
    return false;
  }
}

Text CannotDelete(const Text& name) { return u"UFL Error: Cannot Delete " + name; }

}  // namespace

bool File::Exists(Text& sFile) { return Found(sFile, LookupKind::kFile); }

Text File::Delete(Text& sFile) {
  if (sFile.empty()) return u"Blank File Name";
  return DeleteMatches(sFile) ? sFile + u"deleted" : CannotDelete(sFile);
}

Text File::Rename(Text& sFrom, Text& sTo) {
  if (sFrom.empty()) return u"From is blank";
  if (sTo.empty()) return u"UFL ERROR: To is blank";
  return Trapped(u"Error: ", [&] {
    return files::RenameEntry(sFrom, sTo, LookupKind::kFile,
                              u"File Renamed to ");
  });
}

Text File::Copy(Text& sFrom, Text& sTo) { return CopyFile(sFrom, sTo).answer; }

// The source goes only once the copy has succeeded; otherwise the copy's
// own answer tells why nothing moved. A source that cannot be deleted stays,
// and the answer says so instead of claiming a move.
Text File::Move(Text& sFrom, Text& sTo) {
  CopyResult copy = CopyFile(sFrom, sTo);
  if (!copy.copied) return copy.answer;
  // Two names of one file: after the copy the source is the destination,
  // and deleting it would lose the file.
  if (!Platform::Current().SameFile(sFrom, sTo) && !DeleteMatches(sFrom)) {
    return copy.answer + u"; " + CannotDelete(sFrom);
  }
  return u"File Moved from " + sFrom + u" to " + sTo;
}

}  // namespace pellar
