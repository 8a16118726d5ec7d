// WScript.Shell: the part that makes sense on a server (the environment,
// the current folder, running a program).
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>

#include <pellar/base/text.h>
#include <pellar/base/text_internal.h>
#include <pellar/platform/platform.h>
#include "objects.h"

namespace pellar::script {
namespace {

// A variable of the environment, "" when it is not set (as Windows answers).
Text Variable(const Text& name) {
  if (name.empty() || name.find(u'=') != Text::npos) return Text();
  const char* value = std::getenv(ToUtf8(name).c_str());
  return value == nullptr ? Text() : FromUtf8(value);
}

// Shell.Environment(kind): every kind is the process's environment here
// (a server has no user or machine environment of its own to tell apart).
class Environment final : public TableObject {
  static constexpr std::array<std::string_view, 2> kNames = {"", "item"};
  static consteval int32_t Id(std::string_view name) {
    return MemberId(kNames, name);
  }
  std::span<const std::string_view> Names() const override { return kNames; }

 public:
  Text TypeName() const override { return u"IWshEnvironment"; }
  Var InvokeResolved(Host&, int32_t member, std::string_view, Args args,
                     CallKind kind) override {
    if (kind == CallKind::kLet || kind == CallKind::kSet) NoMember();
    if (member == Id("") || member == Id("item")) {
      ArgCount(args, 1, 1);
      return Var::String(Variable(ToStr(*args[0])));
    }
    NoMember();
  }
};

class Shell final : public TableObject {
  static constexpr std::array<std::string_view, 4> kNames = {
      "currentdirectory", "environment", "expandenvironmentstrings", "run"};
  static consteval int32_t Id(std::string_view name) {
    return MemberId(kNames, name);
  }
  std::span<const std::string_view> Names() const override { return kNames; }

 public:
  Text TypeName() const override { return u"IWshShell3"; }
  Var InvokeResolved(Host& in, int32_t member, std::string_view, Args args,
                     CallKind kind) override {
    if (member == Id("currentdirectory")) return CurrentDirectory(args, kind);
    if (kind == CallKind::kLet || kind == CallKind::kSet) NoMember();
    if (member == Id("environment")) {
      ArgCount(args, 0, 2);
      if (!args.empty()) {
        const Text which = ToStr(*args[0]);
        bool known = false;
        for (const char16_t* kind_name :
             {u"PROCESS", u"SYSTEM", u"USER", u"VOLATILE"}) {
          known = known || EqualsIgnoreCase(which, kind_name);
        }
        if (!known) Raise(error::kInvalidCall);
      }
      Var environment = Own(new Environment);
      // Shell.Environment("PROCESS")("HOME"): the collection's Item.
      if (args.size() == 2) {
        return environment.object()->Invoke(in, "", args.subspan(1),
                                             CallKind::kGet);
      }
      return environment;
    }
    if (member == Id("expandenvironmentstrings")) {
      ArgCount(args, 1, 1);
      return Var::String(Expand(ToStr(*args[0])));
    }
    if (member == Id("run")) {
      ArgCount(args, 1, 3);
      const Text command = ToStr(*args[0]);
      if (args.size() == 3 && ToBool(*args[2]))
        return Var::Long(Platform::Current().RunProcess(command));
      Platform::Current().StartProcess(command,
                                       WindowStyle::kMinimizedNoFocus);
      return Var::Long(0);
    }
    NoMember();
  }

 private:
  // %NAME% becomes the variable's value; a name that is not set, and a
  // lone %, stay as they are.
  static Text Expand(const Text& text) {
    Text out;
    size_t at = 0;
    while (at < text.size()) {
      const size_t open = text.find(u'%', at);
      const size_t close =
          open == Text::npos ? Text::npos : text.find(u'%', open + 1);
      if (close == Text::npos) break;
      out.append(text, at, open - at);
      const Text name = text.substr(open + 1, close - open - 1);
      const char* value =
          name.empty() ? nullptr : std::getenv(ToUtf8(name).c_str());
      if (value == nullptr) {
        out.append(text, open, close - open);
        at = close;  // the closing % may open the next name
        continue;
      }
      out += FromUtf8(value);
      at = close + 1;
    }
    out.append(text, at);
    return out;
  }

  static Var CurrentDirectory(Args args, CallKind kind) {
    std::error_code error;
    if (kind == CallKind::kLet) {
      ArgCount(args, 1, 1);
      std::filesystem::current_path(ToUtf8(ToStr(*args[0])), error);
      if (error) Raise(error::kPathNotFound);
      return Var();
    }
    ArgCount(args, 0, 0);
    const std::filesystem::path here = std::filesystem::current_path(error);
    if (error) Raise(error::kPathNotFound);
    return Var::String(FromUtf8(here.string()));
  }
};

}  // namespace

Var MakeShell() { return Own(new Shell); }

}  // namespace pellar::script
