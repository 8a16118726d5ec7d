// Helpers shared by the File and Folder classes.
#ifndef PELLAR_FILES_FILE_OPS_H_
#define PELLAR_FILES_FILE_OPS_H_

#include <pellar/base/failure.h>
#include <pellar/base/text.h>
#include <pellar/io/trap.h>
#include <pellar/platform/platform.h>

namespace pellar::files {

// The library's one trap, by the name these classes use.
using pellar::Trapped;

// Whether the lookup of `kind` finds at least one entry for `name`; false
// for an empty name and when the lookup fails.
bool Found(TextView name, LookupKind kind) noexcept;

// Wildcards name no single file: an action on one fails with 52, as it
// does where such names cannot exist.
void RequireSingleName(TextView path);

// Whether `path` is a folder (found by the folder lookup, not the file
// lookup). Throws what the lookups throw.
bool IsFolder(Platform& platform, TextView path);

// The rename behind File.Rename and Folder.Rename: `from` must be found and
// `to` must not be, both by the lookup of `kind`. Answers `done` & `to`, or
// "UFL Error: Cannot find " & `from`, or "UFL Error: " & `to` & " already
// exists". Failures throw.
[[nodiscard]] Text RenameEntry(const Text& from, const Text& to,
                               LookupKind kind, TextView done);

// Deletes `path` if it is there, ignoring every failure.
void DeleteQuietly(Platform& platform, TextView path) noexcept;

}  // namespace pellar::files

#endif  // PELLAR_FILES_FILE_OPS_H_
