Set t = CreateObject("PellarLib.Table")
n = 2
WScript.Echo t.BuildNew(1, n), n
WScript.Echo t.LoadCell(0, 0, "a", "b=1"), t.AppendCell(1, 2, "z")
WScript.Echo t.Save("TAG", "border=1"), Len(t.GetText())
WScript.Echo CInt("12"), CLng(-32769), Left("abc", 2), Right("abc", 9), String(3, "-"), Space(2) & ChrW(8364)
Set c = CreateObject("PellarLib.Cell")
WScript.Echo c.Clear(2147483647, 2147483647)
