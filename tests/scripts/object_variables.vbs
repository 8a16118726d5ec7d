' Set copies a reference: two names, one work area. Nothing releases a name.
Set c = CreateObject("PellarLib.Cell")
Set d = CreateObject("PellarLib.Cell")
Set e = c
c.Clear 3, 3
WScript.Echo c.SaveValue(1, 1, "shared", "")
WScript.Echo "[" & e.GetValue(1, 1, "") & "][" & d.GetValue(1, 1, "") & "]"
Set c = Nothing
WScript.Echo "[" & e.GetValue(1, 1, "") & "]"
On Error Resume Next
c.Pad "x", 1
WScript.Echo Err.Number, Err.Description
Err.Clear
Set f = never_assigned
WScript.Echo Err.Number, Err.Description
Err.Clear
Set c = CreateObject("PellarLib.Cell")
WScript.Echo c.Clear(1, 1)
WScript.Echo "done"
