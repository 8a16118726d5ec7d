// The functions, constants and objects every script sees by name.
#ifndef PELLAR_HOST_BUILTINS_H_
#define PELLAR_HOST_BUILTINS_H_

#include <cstdint>
#include <span>
#include <string_view>

#include "host.h"
#include "variant.h"

namespace pellar::script {

// A builtin gets its arguments counted already (the parser checks the
// count against the entry's bounds).
using BuiltinFunction = Var (*)(Host& host, Args args);

struct BuiltinInfo {
  std::string_view name;  // as the reference spells it; found without case
  int8_t min_args;
  uint8_t max_args;
  BuiltinFunction call;
  // Whether a call can change no script variable except through its
  // arguments (CreateObject runs library code that might).
  bool pure = true;
};

// Each theme's entries, in builtins_<theme>.cc.
std::span<const BuiltinInfo> TextBuiltins();
std::span<const BuiltinInfo> NumberBuiltins();
std::span<const BuiltinInfo> ConversionBuiltins();
std::span<const BuiltinInfo> DateBuiltins();
std::span<const BuiltinInfo> FormatBuiltins();
std::span<const BuiltinInfo> ValueBuiltins();
std::span<const BuiltinInfo> HostBuiltins();

// The parser resolves a name once to an id; calls go through the id.
// -1 when `lower` (lower case) names no function.
int32_t FindBuiltin(std::string_view lower);
const BuiltinInfo& BuiltinAt(int32_t id);
inline Var CallBuiltin(Host& host, int32_t id, Args args) {
  return BuiltinAt(id).call(host, args);
}

// The value a builtin receives for an argument left out between commas.
const Var* MissingArgument();
// Whether optional argument `i` was given (not left out between commas).
inline bool Given(Args args, size_t i) {
  return i < args.size() && args[i] != MissingArgument();
}

// Upper case by the same one-to-one mapping as Lower.
Text Upper(TextView text);

// The named constants (vbCrLf, vbTextCompare, ...); false when unknown.
bool FindConstant(std::string_view lower, Var* value);

}  // namespace pellar::script

#endif  // PELLAR_HOST_BUILTINS_H_
