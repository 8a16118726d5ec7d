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
  // Loops and recursion are bounded so that every input ends quickly.
  pellar::RunOptions options;
  options.max_statements = 100000;
  options.max_call_depth = 64;
  // Far below libFuzzer's memory limit, values and their copies together.
  options.max_memory = size_t{256} << 20;
  options.sleep = false;
  options.arguments = {u"first", u"second"};
  int code = pellar::RunScript(
      std::string_view(reinterpret_cast<const char*>(data), size), "fuzz.vbs",
      out, err, options);
  (void)code;  // WScript.Quit chooses any exit code
  // A failed script says where and why on one line.
  if (!err.str().empty() && err.str().back() != '\n') __builtin_trap();
  return 0;
}
