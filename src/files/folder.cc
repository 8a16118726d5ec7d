// Not yet available: every method fails with 445 until the class lands.
#include "files/folder.h"

#include "frame/failure.h"

namespace pellar {

Text Folder::Create(Text&) {
  throw Failure(error::kActionNotSupported);
}
bool Folder::Exists(Text&) {
  throw Failure(error::kActionNotSupported);
}
Text Folder::Rename(Text&, Text&) {
  throw Failure(error::kActionNotSupported);
}

}  // namespace pellar
