// Not yet available: every method fails with 445 until the class lands.
#include "table/table.h"

#include "frame/failure.h"

namespace pellar {

Text Table::Clear() {
  throw Failure(error::kActionNotSupported);
}
Text Table::BuildNew(int32_t, int32_t&) {
  throw Failure(error::kActionNotSupported);
}
Text Table::LoadCell(int32_t, int32_t, Text&, Text&) {
  throw Failure(error::kActionNotSupported);
}
Text Table::AppendCell(int32_t, int32_t, Text&) {
  throw Failure(error::kActionNotSupported);
}
Text Table::Save(Text&, Text&) {
  throw Failure(error::kActionNotSupported);
}

}  // namespace pellar
