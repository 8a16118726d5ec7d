// Not yet available: every method fails with 445 until the class lands.
#include "files/ftp.h"

#include "frame/failure.h"

namespace pellar {

Text FTP::SendFile(Text&, Text&, Text&, Text&, Text&, Text&, Text&, bool&) {
  throw Failure(error::kActionNotSupported);
}
Text FTP::GetFile(Text&, Text&, Text&, Text&, Text&, Text&, Text&, bool&) {
  throw Failure(error::kActionNotSupported);
}

}  // namespace pellar
