' native-only: the host's own path and arguments given on its command line.
' WScript.Arguments split into Named ("/name:value", "/name") and Unnamed,
' the host's FullName and Path, and the engine's name and version.
WScript.Echo "engine:", ScriptEngine, ScriptEngineMajorVersion, ScriptEngineMinorVersion, ScriptEngineBuildVersion, TypeName(ScriptEngineMajorVersion)
WScript.Echo "host:", InStr(WScript.FullName, "pellar") > 0, Left(WScript.FullName, Len(WScript.Path)) = WScript.Path
Set named = WScript.Arguments.Named
WScript.Echo "named:", named.Count, named("OUT"), named.Item("out"), named.Exists("Flag"), IsEmpty(named("flag")), named.Exists("plain"), IsEmpty(named("missing"))
For Each n In named
  WScript.Echo "name:", n
Next
Set unnamed = WScript.Arguments.Unnamed
WScript.Echo "unnamed:", unnamed.Count, unnamed(0), unnamed.Item(1), WScript.Arguments.Count, WScript.Arguments.Unnamed(1)
WScript.Echo "done"
