' Folder: create, test and rename folders, each call answering its status
' text.
Set cell = CreateObject("PellarLib.Cell")
Set d = CreateObject("PellarLib.Folder")
WScript.Echo cell.Clear(1, 1)
WScript.Echo cell.SaveFile("a.txt", ",", 0)

WScript.Echo d.Create("")
WScript.Echo d.Create("out")
WScript.Echo d.Create("out")
WScript.Echo d.Create("a.txt")
WScript.Echo d.Create("missing/deeper")
WScript.Echo d.Create("out/deeper")
WScript.Echo d.Create(".hidden")

' Ordinary files count as folders here; hidden entries do not count.
WScript.Echo "out: " & d.Exists("out")
WScript.Echo "a.txt: " & d.Exists("a.txt")
WScript.Echo "o*: " & d.Exists("o*")
WScript.Echo ".hidden: " & d.Exists(".hidden")
WScript.Echo "missing: " & d.Exists("missing")
WScript.Echo "empty: " & d.Exists("")

WScript.Echo d.Rename("", "")
WScript.Echo d.Rename("out", "")
WScript.Echo d.Rename("missing", "x")
WScript.Echo d.Rename(".hidden", "x")
WScript.Echo d.Rename("out", "a.txt")
WScript.Echo d.Rename("out", "missing/x")
WScript.Echo d.Rename("out", "renamed")
WScript.Echo "renamed with its content: " & d.Exists("renamed/deeper")
WScript.Echo d.Rename("a.txt", "b.txt")
WScript.Echo "done"
