// What the fuzz targets share: the library runs in a sandbox folder, made
// the working folder at start-up and emptied before every input, so that
// arbitrary input can neither touch real files nor start a program, and
// no input sees the files of an earlier one.
#ifndef PELLAR_FUZZ_FUZZ_SUPPORT_H_
#define PELLAR_FUZZ_FUZZ_SUPPORT_H_

#include <string>
#include <string_view>

#include <pellar/platform/platform.h>
#include <pellar/testing/sandbox.h>

namespace pellar::fuzz {

class Session {
 public:
  // The process's session, created by the first call: a fresh folder under
  // $TMPDIR (or /tmp), removed again when the process exits normally.
  static Session& Get();

  testing::SandboxPlatform& platform() { return *platform_; }
  const std::string& root() const { return root_; }

  // Empties the sandbox folder and makes it the working folder again.
  void BeginInput();
  // Resets what the library keeps per thread between calls: the XML
  // writer's file, the activity log and the application identity.
  void EndInput();

 private:
  Session();

  std::string root_;
  testing::SandboxPlatform* platform_;
};

// Makes the session's sandbox the current platform for one input.
class InputScope {
 public:
  InputScope() : session_(Session::Get()), scope_(Begin(session_)) {}
  ~InputScope() { session_.EndInput(); }
  InputScope(const InputScope&) = delete;
  InputScope& operator=(const InputScope&) = delete;

 private:
  static Platform& Begin(Session& session) {
    session.BeginInput();
    return session.platform();
  }

  Session& session_;
  ScopedPlatform scope_;
};

// Writes `bytes` as the file `path`, replacing it.
void WriteFile(const std::string& path, std::string_view bytes);

}  // namespace pellar::fuzz

#endif  // PELLAR_FUZZ_FUZZ_SUPPORT_H_
