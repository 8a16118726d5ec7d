// The one failure type of the library. Untrapped failures travel to the
// caller as this type; methods that trap failures catch it and answer their
// prefix followed by description().
#ifndef PELLAR_BASE_FAILURE_H_
#define PELLAR_BASE_FAILURE_H_

#include <exception>
#include <string>

#include <pellar/base/export.h>
#include <pellar/base/text.h>

namespace pellar {

// Automation error numbers of the library and of the script host, one
// table with the texts of Describe.
namespace error {
inline constexpr int kInvalidCall = 5;
inline constexpr int kOverflow = 6;
inline constexpr int kOutOfMemory = 7;
inline constexpr int kSubscriptOutOfRange = 9;
inline constexpr int kArrayLocked = 10;
inline constexpr int kDivisionByZero = 11;
inline constexpr int kTypeMismatch = 13;
inline constexpr int kOutOfStack = 28;
inline constexpr int kSubNotDefined = 35;
inline constexpr int kBadFileName = 52;
inline constexpr int kFileNotFound = 53;
inline constexpr int kBadFileMode = 54;
inline constexpr int kDeviceIo = 57;
inline constexpr int kFileExists = 58;
inline constexpr int kDiskFull = 61;
inline constexpr int kInputPastEnd = 62;
inline constexpr int kTooManyFiles = 67;
inline constexpr int kPermissionDenied = 70;
inline constexpr int kDiskNotReady = 71;
inline constexpr int kRenameAcrossDrives = 74;
inline constexpr int kPathFileAccess = 75;
inline constexpr int kPathNotFound = 76;
inline constexpr int kInvalidNull = 94;
inline constexpr int kObjectRequired = 424;
inline constexpr int kCannotCreateObject = 429;
inline constexpr int kNoSuchMethod = 438;
inline constexpr int kActionNotSupported = 445;
inline constexpr int kWrongArgumentCount = 450;
inline constexpr int kNotACollection = 451;
inline constexpr int kKeyExists = 457;
inline constexpr int kNotDefined = 500;
inline constexpr int kIllegalAssignment = 501;
inline constexpr int kClassNotDefined = 506;
inline constexpr int kRegExpSyntax = 5017;
inline constexpr int kKeyNotFound = 32811;
}  // namespace error

// The fixed description of an error number, the same on every platform;
// "Application-defined or object-defined error" for numbers not listed above.
PELLAR_EXPORT TextView Describe(int number);

class PELLAR_EXPORT Failure : public std::exception {
 public:
  // A failure with the fixed description of `number`.
  explicit Failure(int number);
  Failure(int number, Text description);

  int number() const { return number_; }
  const Text& description() const { return description_; }
  // The description in UTF-8.
  const char* what() const noexcept override { return what_.c_str(); }

 private:
  int number_;
  Text description_;
  std::string what_;
};

}  // namespace pellar

#endif  // PELLAR_BASE_FAILURE_H_
