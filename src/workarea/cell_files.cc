// The Cell methods that write the work area to files or read it from them.
#include "frame/failure.h"
#include "workarea/cell.h"

namespace pellar {

// Not yet available: these fail with 445 until the file formats land.
Text Cell::SaveFile(Text&, Text&, int16_t&) {
  throw Failure(error::kActionNotSupported);
}
Text Cell::SaveWorkSheet(Text&, Text&, Text&) {
  throw Failure(error::kActionNotSupported);
}
Text Cell::LoadFile(Text&, Text&) { throw Failure(error::kActionNotSupported); }
Text Cell::SetXMLTag(int16_t&, Text&) {
  throw Failure(error::kActionNotSupported);
}
Text Cell::SaveXMLFile(Text&, Text&, Text&, int16_t&) {
  throw Failure(error::kActionNotSupported);
}
Text Cell::Lookup(Text&, int16_t&, Text&, int16_t&, Text&) {
  throw Failure(error::kActionNotSupported);
}

}  // namespace pellar
