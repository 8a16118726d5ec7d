' Scripting.FileSystemObject text files: written in Windows-1252 with CR LF.
Set fso = CreateObject("Scripting.FileSystemObject")
name = "fso_test.txt"
If fso.FileExists(name) Then fso.DeleteFile name
WScript.Echo "exists before:", fso.FileExists(name), fso.FolderExists("."), fso.FolderExists("no_such_folder")
Set f = fso.CreateTextFile(name, True)
f.WriteLine "first line"
f.Write "second "
f.Write "line" & Chr(233)
f.WriteLine
f.WriteLine ""
f.WriteLine 42
f.Close
WScript.Echo "exists after:", fso.FileExists(name)
Set f = fso.OpenTextFile(name, 1)
n = 0
Do Until f.AtEndOfStream
  n = n + 1
  WScript.Echo "line " & n & ":", "[" & f.ReadLine & "]"
Loop
f.Close
Set f = fso.OpenTextFile(name, 8)
f.WriteLine "appended"
f.Close
Set f = fso.OpenTextFile(name)
all = f.ReadAll
f.Close
WScript.Echo "read all:", Len(all), Asc(Mid(all, 11, 1)), Asc(Mid(all, 12, 1)), Right(all, 10) = "appended" & vbCrLf
Set f = fso.OpenTextFile(name, 2)
f.Write "replaced"
f.Close
Set f = fso.OpenTextFile(name, 1)
WScript.Echo "overwritten:", f.ReadAll
f.Close
fso.CopyFile name, "fso_copy.txt"
WScript.Echo "copied:", fso.FileExists("fso_copy.txt")
fso.DeleteFile "fso_copy.txt"
WScript.Echo "deleted:", fso.FileExists("fso_copy.txt")
WScript.Echo "names:", fso.GetBaseName("dir/report.final.csv"), fso.GetExtensionName("dir/report.final.csv"), "[" & fso.GetExtensionName("README") & "]"
WScript.Echo "build path:", fso.GetFileName(fso.BuildPath("out", "report.csv")), Len(fso.BuildPath("out", "report.csv"))
On Error Resume Next
Set f = fso.OpenTextFile("no_such_file.txt", 1)
WScript.Echo "missing:", Err.Number, Err.Description
Err.Clear
Set f = fso.CreateTextFile(name, False)
WScript.Echo "no overwrite:", Err.Number, Err.Description
Err.Clear
Set f = fso.OpenTextFile(name, 1)
f.ReadLine
f.ReadLine
WScript.Echo "past end:", Err.Number, Err.Description
f.Close
fso.DeleteFile name
WScript.Echo "done"
