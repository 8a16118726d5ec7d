#include <pellar/base/failure_internal.h>

#include <new>
#include <stdexcept>

namespace pellar {

Failure CaughtFailure() {
  try {
    throw;
  } catch (const Failure& failure) {
    return failure;
  } catch (const std::bad_alloc&) {
    return Failure(error::kOutOfMemory);
  } catch (const std::length_error&) {
    return Failure(error::kOutOfMemory);
  }
}

TextView Describe(int number) {
  switch (number) {
    case error::kInvalidCall: return u"Invalid procedure call or argument";
    case error::kOverflow: return u"Overflow";
    case error::kOutOfMemory: return u"Out of memory";
    case error::kSubscriptOutOfRange: return u"Subscript out of range";
    case error::kArrayLocked:
      return u"This array is fixed or temporarily locked";
    case error::kDivisionByZero:
      return u"Division by zero";
    case error::kTypeMismatch: return u"Type mismatch";
    case error::kOutOfStack:
      return u"Out of stack space";
    case error::kSubNotDefined:
      return u"Sub or Function not defined";
    case error::kBadFileName: return u"Bad file name or number";
    case error::kFileNotFound: return u"File not found";
    case error::kBadFileMode:
      return u"Bad file mode";
    case error::kDeviceIo: return u"Device I/O error";
    case error::kFileExists: return u"File already exists";
    case error::kDiskFull: return u"Disk full";
    case error::kInputPastEnd:
      return u"Input past end of file";
    case error::kTooManyFiles: return u"Too many files";
    case error::kPermissionDenied: return u"Permission denied";
    case error::kDiskNotReady: return u"Disk not ready";
    case error::kRenameAcrossDrives: return u"Can't rename with different drive";
    case error::kPathFileAccess: return u"Path/File access error";
    case error::kPathNotFound: return u"Path not found";
    case error::kInvalidNull:
      return u"Invalid use of Null";
    case error::kObjectRequired:
      return u"Object required";
    case error::kClassNotDefined:
      return u"Class not defined";
    case error::kCannotCreateObject:
      return u"ActiveX component can't create object";
    case error::kNoSuchMethod:
      return u"Object doesn't support this property or method";
    case error::kActionNotSupported:
      return u"Object doesn't support this action";
    case error::kWrongArgumentCount:
      return u"Wrong number of arguments or invalid property assignment";
    case error::kNotACollection:
      return u"Object not a collection";
    case error::kKeyExists:
      return u"This key is already associated with an element of this "
             u"collection";
    case error::kNotDefined:
      return u"Variable is undefined";
    case error::kIllegalAssignment:
      return u"Illegal assignment";
    case error::kRegExpSyntax:
      return u"Syntax error in regular expression";
    case error::kKeyNotFound:
      return u"Element not found";
    default: return u"Application-defined or object-defined error";
  }
}

Failure::Failure(int number) : Failure(number, Text(Describe(number))) {}

Failure::Failure(int number, Text description)
    : number_(number),
      description_(std::move(description)),
      what_(ToUtf8(description_)) {}

}  // namespace pellar
