// The one trap of the methods that answer a failure as a status text.
#ifndef PELLAR_IO_TRAP_H_
#define PELLAR_IO_TRAP_H_

#include <pellar/base/failure_internal.h>
#include <pellar/base/text.h>

namespace pellar {

// Runs `action` and answers its text; a failure inside it answers `prefix`
// followed by the failure's description instead. Running out of memory is
// failure 7 here, at the method's boundary, and nowhere further in.
template <typename Action>
[[nodiscard]] Text Trapped(TextView prefix, Action&& action) {
  try {
    return action();
  } catch (...) {
    return Text(prefix) + CaughtFailure().description();
  }
}

}  // namespace pellar

#endif  // PELLAR_IO_TRAP_H_
