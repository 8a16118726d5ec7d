// The one trap of the methods that answer a failure as a status text.
#ifndef PELLAR_IO_TRAP_H_
#define PELLAR_IO_TRAP_H_

#include <new>
#include <stdexcept>

#include "base/failure.h"
#include "base/text.h"

namespace pellar {

// Runs `action` and answers its text; a failure inside it answers `prefix`
// followed by the failure's description instead. Running out of memory is
// failure 7 here, at the method's boundary, and nowhere further in.
template <typename Action>
Text Trapped(TextView prefix, Action&& action) {
  try {
    return action();
  } catch (const Failure& failure) {
    return Text(prefix) + failure.description();
  } catch (const std::bad_alloc&) {
    return Text(prefix) + Text(Describe(error::kOutOfMemory));
  } catch (const std::length_error&) {
    return Text(prefix) + Text(Describe(error::kOutOfMemory));
  }
}

}  // namespace pellar

#endif  // PELLAR_IO_TRAP_H_
