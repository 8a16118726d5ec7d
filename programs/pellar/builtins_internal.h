// Helpers the builtins' theme files share.
#ifndef PELLAR_HOST_BUILTINS_INTERNAL_H_
#define PELLAR_HOST_BUILTINS_INTERNAL_H_

#include <cstddef>
#include <cstdint>

#include "builtins.h"
#include "variant.h"

namespace pellar::script {

inline const Var& Arg(Args args, size_t i) { return *args[i]; }

inline bool AnyNull(Args args, size_t n) {
  for (size_t i = 0; i < n && i < args.size(); ++i) {
    if (args[i]->is_null()) return true;
  }
  return false;
}

inline int32_t NonNegative(const Var& v) {
  int32_t n = ToLong(v);
  if (n < 0) Raise(error::kInvalidCall);
  return n;
}

// Whether the compare argument at `at` asks for vbTextCompare.
inline bool TextMode(Args args, size_t at) {
  return at < args.size() && ToLong(*args[at]) == 1;
}

inline const ArrBox& ArrayArg(const Var& v) {
  if (!v.is_array()) Raise(error::kTypeMismatch);
  return *v.array();
}

// Position (1-based) of `needle` in `hay` from `start` (1-based), 0 if none.
int32_t FindText(TextView hay, TextView needle, size_t start, bool text_mode);

// Timer's seconds since midnight, which Randomize seeds with too.
double SecondsSinceMidnight();

}  // namespace pellar::script

#endif  // PELLAR_HOST_BUILTINS_INTERNAL_H_
