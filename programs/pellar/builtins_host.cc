// What the script host itself offers by name: CreateObject, WScript, Err,
// the engine's name and version, and running script text.
#include "builtins_internal.h"

namespace pellar::script {
namespace {

Var CreateObject(Host& host, Args args) {
  return host.CreateObject(ToStr(Arg(args, 0)));
}
Var WScript(Host& host, Args) { return host.WScriptObject(); }
Var Err(Host& host, Args) { return host.ErrObject(); }

// These run script text in the running scope, which only the host has.
Var Eval(Host& host, Args args) {
  return host.Eval(ToStr(host.DefaultValue(Arg(args, 0))));
}
Var Execute(Host& host, Args args) {
  return host.Execute(ToStr(host.DefaultValue(Arg(args, 0))), false);
}
Var ExecuteGlobal(Host& host, Args args) {
  return host.Execute(ToStr(host.DefaultValue(Arg(args, 0))), true);
}
Var GetRef(Host& host, Args args) {
  return host.GetRef(ToStr(host.DefaultValue(Arg(args, 0))));
}

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
    {"Eval", 1, 1, Eval, /*pure=*/false},
    {"Execute", 1, 1, Execute, /*pure=*/false},
    {"ExecuteGlobal", 1, 1, ExecuteGlobal, /*pure=*/false},
    {"GetRef", 1, 1, GetRef, /*pure=*/false},
};

}  // namespace

std::span<const BuiltinInfo> HostBuiltins() { return kEntries; }

}  // namespace pellar::script
