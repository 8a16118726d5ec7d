// What the library's own boundaries (methods, Invoke, COM calls) do with
// an exception; callers outside it catch Failure (failure.h).
#ifndef PELLAR_BASE_FAILURE_INTERNAL_H_
#define PELLAR_BASE_FAILURE_INTERNAL_H_

#include <pellar/base/failure.h>

namespace pellar {

// The failure the exception being handled stands for, at a boundary where
// every failure must carry a number: a Failure as it is (sliced to
// Failure), running out of memory (std::bad_alloc, or std::length_error
// for a text or line too long to hold) as 7 "Out of memory". Any other
// exception is thrown on. Call it only while handling an exception.
Failure CaughtFailure();

}  // namespace pellar

#endif  // PELLAR_BASE_FAILURE_INTERNAL_H_
