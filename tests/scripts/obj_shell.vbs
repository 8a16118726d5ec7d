' native-only: POSIX programs and the process's own environment.
' WScript.Shell: Environment, ExpandEnvironmentStrings, CurrentDirectory and
' Run, waiting for the program and answering its exit status.
Set sh = CreateObject("WScript.Shell")
path = sh.Environment("PROCESS")("PATH")
WScript.Echo "shell:", TypeName(sh), Len(path) > 0, sh.Environment("process").Item("PATH") = path, sh.Environment()("PATH") = path
WScript.Echo "unset:", "[" & sh.Environment("PROCESS")("PELLAR_NO_SUCH_VARIABLE") & "]"
WScript.Echo "expand:", sh.ExpandEnvironmentStrings("<%PATH%>") = "<" & path & ">", sh.ExpandEnvironmentStrings("%PELLAR_NO_SUCH_VARIABLE% 100% a%%b %")
WScript.Echo "run:", sh.Run("sh -c ""exit 7""", 0, True), sh.Run("true", 0, True), sh.Run("false", 1, True)
WScript.Echo "run writes:", sh.Run("sh -c ""printf '%s|' \""$@\"" > ran.txt"" sh one ""two words""", 0, True), CreateObject("Scripting.FileSystemObject").OpenTextFile("ran.txt").ReadAll
WScript.Echo "folder:", Right(sh.CurrentDirectory, 9)
On Error Resume Next
x = sh.Run("./no-such-program", 0, True)
WScript.Echo "not found:", Err.Number
Err.Clear
x = sh.Environment("BOGUS")
WScript.Echo "bad kind:", Err.Number
Err.Clear
sh.CurrentDirectory = "no-such-folder"
WScript.Echo "bad folder:", Err.Number, Right(sh.CurrentDirectory, 9)
Err.Clear
sh.Nope
WScript.Echo "no member:", Err.Number
On Error GoTo 0
WScript.Echo "done"
