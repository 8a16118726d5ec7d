' native-only: WScript.StdOut, StdErr and Sleep, which Wine's cscript lacks.
' The WScript object: Echo, ScriptName, Arguments, StdOut, StdErr, Sleep.
WScript.Echo "name:", WScript.ScriptName
Set args = WScript.Arguments
WScript.Echo "arguments:", args.Count, WScript.Arguments.Count
For Each a In args
  WScript.Echo "argument:", "[" & a & "]"
Next
WScript.Echo "first:", args(0), WScript.Arguments(1), args.Item(0)
WScript.StdOut.Write "std"
WScript.StdOut.WriteLine "out"
WScript.StdErr.WriteLine "to standard error"
WScript.Sleep 1
WScript.Echo "echo:", 1, "two", 3.5, True, Empty
WScript.Echo "done"
