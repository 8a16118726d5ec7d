// The implementation classes of the dual interfaces, generated from the
// automation table; the interfaces come from the header widl writes for the
// same table, so a mismatch between them fails to compile.
#include "PellarLib_h.h"
#include "dual_object.h"

namespace pellar::com {

#include "generated/dual_classes.inc"

}  // namespace pellar::com
