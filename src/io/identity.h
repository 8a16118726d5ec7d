// The library's identity values and the per-thread application names and
// activity log.
//
// Per-thread state starts empty the first time a thread uses the library and
// is never shared between threads; no locks are taken.
#ifndef PELLAR_IO_IDENTITY_H_
#define PELLAR_IO_IDENTITY_H_

#include <cstdint>

#include <pellar/base/text.h>
#include <pellar/platform/platform.h>

namespace pellar {

struct LibraryInfo {
  Text file_description;  // "Pellar UFL"
  Text company_name;      // "Brambleworth Ltd"
  Text exe_name;          // "PellarLib"
  Text product_name;      // "PellarLib"
  int16_t major;          // 3
  int16_t minor;          // 2
  int16_t revision;       // 30
  Text path;              // folder of the library file, no trailing separator
};

// The identity values of this build; `path` is read from the current
// platform on each call.
LibraryInfo GetLibraryInfo();

void SetApplication(TextView application_name, TextView developer_name);
Text GetApplicationName();
// The stored developer name, or "Brambleworth" while it is empty.
Text GetDeveloper();
Text GetDeveloperWebAddress();

// Appends CR LF, the stamp "dd-MMM-yyyy HH:mm:ss " of the local time, and
// `text` to the thread's activity log. Never fails.
void LogLine(TextView text);
const Text& ActivityLog();
void ClearActivityLog();
// Writes the activity log to Path & separator & "UFL.log". Failures of the
// file system pass through as Failure; the log is unchanged either way.
void SaveLog();
// Creates or truncates `path`, writes `text` and one CR LF, closes it.
void WriteTextFile(TextView path, TextView text);

// "dd-MMM-yyyy" of the current platform's local date.
Text FormatDate(const LocalDateTime& when);

}  // namespace pellar

#endif  // PELLAR_IO_IDENTITY_H_
