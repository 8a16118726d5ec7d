// What the script host itself offers by name: CreateObject, WScript, Err
// and the engine's name and version.
#include "builtins_internal.h"

namespace pellar::script {
namespace {

Var CreateObject(Host& host, Args args) {
  return host.CreateObject(ToStr(Arg(args, 0)));
}
Var WScript(Host& host, Args) { return host.WScriptObject(); }
Var Err(Host& host, Args) { return host.ErrObject(); }

// The engine of Windows' script host 5.812, whose behaviour the host
// follows.
Var ScriptEngine(Host&, Args) { return Var::String(u"VBScript"); }
Var ScriptEngineMajorVersion(Host&, Args) { return Var::Long(5); }
Var ScriptEngineMinorVersion(Host&, Args) { return Var::Long(8); }
Var ScriptEngineBuildVersion(Host&, Args) { return Var::Long(16384); }

constexpr BuiltinInfo kEntries[] = {
    {"CreateObject", 1, 2, CreateObject, /*pure=*/false},
    {"WScript", 0, 0, WScript},
    {"Err", 0, 0, Err},
    {"ScriptEngine", 0, 0, ScriptEngine},
    {"ScriptEngineMajorVersion", 0, 0, ScriptEngineMajorVersion},
    {"ScriptEngineMinorVersion", 0, 0, ScriptEngineMinorVersion},
    {"ScriptEngineBuildVersion", 0, 0, ScriptEngineBuildVersion},
};

}  // namespace

std::span<const BuiltinInfo> HostBuiltins() { return kEntries; }

}  // namespace pellar::script
