// Not yet available: every method fails with 445 until the class lands.
#include "files/file.h"

#include "frame/failure.h"

namespace pellar {

bool File::Exists(Text&) {
  throw Failure(error::kActionNotSupported);
}
Text File::Delete(Text&) {
  throw Failure(error::kActionNotSupported);
}
Text File::Rename(Text&, Text&) {
  throw Failure(error::kActionNotSupported);
}
Text File::Copy(Text&, Text&) {
  throw Failure(error::kActionNotSupported);
}
Text File::Move(Text&, Text&) {
  throw Failure(error::kActionNotSupported);
}

}  // namespace pellar
