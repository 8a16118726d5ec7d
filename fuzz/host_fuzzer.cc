// The script host on arbitrary text: lexer, parser and interpreter, and
// through them every library call a script can make, confined to the
// sandbox folder.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string_view>

#include "fuzz_support.h"
#include "interpreter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pellar::fuzz::InputScope scope;
  std::ostringstream out, err;
  const int code = pellar::RunScript(
      std::string_view(reinterpret_cast<const char*>(data), size), "fuzz.vbs",
      out, err);
  if (code != pellar::kExitOk && code != pellar::kExitRuntimeError &&
      code != pellar::kExitSyntaxError) {
    __builtin_trap();
  }
  // A failed script says where and why on one line.
  if (code != pellar::kExitOk && err.str().find('\n') + 1 != err.str().size()) {
    __builtin_trap();
  }
  return 0;
}
