// pellar: runs report scripts written in a subset of VBScript against the
// library, so the same file runs unchanged under the Windows script host.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include <pellar/automation/automation.h>
#include <pellar/base/number.h>
#include <pellar/base/text.h>
#include "interpreter.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace pellar {
namespace {

// Wrong usage prints the synopsis and the exit statuses; --help prints
// everything, which is also the manual page (help2man).
constexpr std::string_view kSynopsis =
    "Usage: pellar run [--max-memory=N] FILE [ARG...]\n"
    "  or:  pellar --help\n"
    "  or:  pellar --version\n";

constexpr std::string_view kDescription =
    "Runs the VBScript FILE (\"-\" reads standard input) with the ARGs as its\n"
    "WScript.Arguments, as the Windows script host would, with the library's\n"
    "classes created by name (CreateObject(\"PellarLib.Cell\"), ...). The\n"
    "whole script is parsed first: a syntax error anywhere stops it before\n"
    "anything runs. Scripts are UTF-8; the files the classes write are\n"
    "Windows-1252 with CR LF. A syntax error prints FILE(LINE, COLUMN) syntax\n"
    "error: WHAT, a failure the script does not trap FILE(LINE, COLUMN)\n"
    "runtime error: DESCRIPTION and the calls it came through, on standard\n"
    "error.\n"
    "\n"
    "Options:\n"
    "  --max-memory=N   a script whose values (texts, arrays, dictionaries,\n"
    "                   files read) hold more than N bytes together fails\n"
    "                   with error 7 \"Out of memory\"; N may end in K, M or G\n"
    "                   (default 1G)\n"
    "  -h, --help       show this help and exit\n"
    "  --version        show the library version (UFL.Help \"version\") and\n"
    "                   exit\n";

constexpr std::string_view kExitStatus =
    "\n"
    "Exit status:\n"
    "  0   the script ran to its end\n"
    "  1   a runtime error stopped it\n"
    "  2   a syntax error, an unreadable FILE or wrong usage\n"
    "  N   the script called WScript.Quit N\n";

constexpr std::string_view kFilesAndExamples =
    "\n"
    "Files:\n"
    "  FILE      the script; the relative paths it names resolve against the\n"
    "            working folder\n"
    "  UFL.log   the activity log, written beside the pellar program by\n"
    "            UFL.Help \"savelog\"\n"
    "\n"
    "Examples:\n"
    "  pellar run report.vbs 2026-12\n"
    "      runs report.vbs, whose WScript.Arguments(0) is \"2026-12\"\n"
    "  echo 'WScript.Echo Year(Now)' | pellar run -\n"
    "      runs a script read from standard input\n";

constexpr std::string_view kMaxMemory = "--max-memory=";

// The library's own answer, so the two can never disagree.
int PrintVersion() {
  try {
    std::unique_ptr<Object> ufl = Object::Create(u"PellarLib.UFL");
    std::vector<Arg> args{Arg::Val(Text(u"version"))};
    std::cout << ToUtf8(ToText(Invoke(*ufl, u"Help", args))) << "\n";
    return kExitOk;
  } catch (const Failure& failure) {
    std::cerr << "pellar: " << failure.what() << "\n";
    return kExitRuntimeError;
  }
}

// C streams rather than iostreams: they report a read error (such as a
// folder given as FILE) instead of a silent empty script.
[[nodiscard]] bool ReadAll(std::FILE* in, std::string& bytes) {
  char buffer[1 << 16];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) {
    bytes.append(buffer, n);
  }
  return std::ferror(in) == 0;
}

int Run(const std::string& file, const std::vector<std::string>& arguments,
        RunOptions options) {
  std::string bytes;
  bool read = false;
  if (file == "-") {
    read = ReadAll(stdin, bytes);
  } else if (std::FILE* in = std::fopen(file.c_str(), "rb")) {
    read = ReadAll(in, bytes);
    std::fclose(in);
  }
  if (!read) {
    std::cerr << "pellar: cannot read "
              << (file == "-" ? "standard input" : file) << "\n";
    return kExitSyntaxError;
  }
  std::error_code error;
  const std::filesystem::path self =
      std::filesystem::canonical("/proc/self/exe", error);
  if (!error) options.host_path = FromUtf8(self.string());
  for (const std::string& argument : arguments)
    options.arguments.push_back(FromUtf8(argument));
  return RunScript(bytes, file, std::cout, std::cerr, options);
}

int Main(const std::vector<std::string>& args) {
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::cout << kSynopsis << kDescription << kExitStatus << kFilesAndExamples;
    return kExitOk;
  }
  if (args.size() == 1 && args[0] == "--version") return PrintVersion();
  if (!args.empty() && args[0] == "run") {
    RunOptions options;
    size_t at = 1;
    if (at < args.size() && args[at].starts_with(kMaxMemory)) {
      const std::string_view value =
          std::string_view(args[at]).substr(kMaxMemory.size());
      uint64_t bytes = 0;
      if (!ParseByteCount(value, &bytes) || bytes > SIZE_MAX) {
        std::cerr << "pellar: --max-memory takes a number of bytes, not \""
                  << value << "\"\n"
                  << kSynopsis << kExitStatus;
        return kExitSyntaxError;
      }
      options.max_memory = static_cast<size_t>(bytes);
      ++at;
    }
    if (at < args.size()) {
      return Run(args[at],
                 std::vector<std::string>(args.begin() + at + 1, args.end()),
                 std::move(options));
    }
  }
  if (args.empty()) {
    std::cerr << "pellar: missing command\n";
  } else if (args[0] == "run") {
    std::cerr << "pellar: run needs a FILE\n";
  } else {
    std::cerr << "pellar: unknown usage: " << args[0] << "\n";
  }
  std::cerr << kSynopsis << kExitStatus;
  return kExitSyntaxError;
}

}  // namespace
}  // namespace pellar

int main(int argc, char** argv) {
#ifdef _WIN32
  // Output is UTF-8 with "\n" line ends on every platform.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stdin), _O_BINARY);
#endif
  std::vector<std::string> args(argv + 1, argv + argc);
  int code = pellar::Main(args);
  std::cout.flush();
  std::cerr.flush();
  return code;
}
