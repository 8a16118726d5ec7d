On Error Resume Next
Set f = CreateObject("PellarLib.File")
Set d = CreateObject("PellarLib.Folder")
Set u = CreateObject("PellarLib.UFL")
Set t = CreateObject("PellarLib.FTP")
WScript.Echo u.Help("savelog"), f.Exists("UFL.log"), d.Exists(".")
WScript.Echo f.Copy("UFL.log", "a.txt"), f.Rename("a.txt", "b.txt")
WScript.Echo f.Move("b.txt", "c.txt"), f.Delete("*.txt"), d.Rename("x", "y")
WScript.Echo t.SendFile("run.sh", "cmd.txt", "host", "u", "p", "/in", "c.txt", False)
WScript.Echo t.GetFile("run.sh", "cmd.txt", "host", "u", "p", "/in", "c.txt", True)
WScript.Echo Err.Number, Err.Description
