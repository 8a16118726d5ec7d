' FTP dry runs: both files are written and nothing is started; values with
' a line break are refused before anything is written.
Set ftp = CreateObject("PellarLib.FTP")
Set f = CreateObject("PellarLib.File")
Set d = CreateObject("PellarLib.Folder")
WScript.Echo d.Create("ftp files")
WScript.Echo ftp.SendFile("ftp files/send it.sh", "send it.txt", "127.0.0.1 2121", "my user", "pa ss", "in box", "my file.csv", False)
WScript.Echo ftp.GetFile("ftp files/get.sh", "get.txt", "", "", "", "", "", False)
WScript.Echo "written: " & f.Exists("ftp files/send it.sh") & " " & f.Exists("send it.txt") & " " & f.Exists("ftp files/get.sh") & " " & f.Exists("get.txt")

' The command file would gain a command of its own.
WScript.Echo ftp.SendFile("evil.sh", "evil.txt", "host", "user", "pw" & vbCrLf & "!sh", "in", "x.csv", True)
WScript.Echo ftp.GetFile("evil.sh", "evil.txt", "host", "user", "pw", "in", "x.csv" & vbLf & "get y", True)
WScript.Echo ftp.SendFile("evil.sh", "evil.txt", "host" & vbCr, "user", "pw", "in", "x.csv", False)
WScript.Echo "nothing written: " & f.Exists("evil.*")

' A file that cannot be created fails the call.
On Error Resume Next
WScript.Echo ftp.SendFile("missing/send.sh", "send.txt", "host", "user", "pw", "in", "x.csv", False)
WScript.Echo "failed:", Err.Number, Err.Description
WScript.Echo "done"
