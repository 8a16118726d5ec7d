' A syntax error anywhere stops the script before its first statement runs.
WScript.Echo "never printed"
Set c = CreateObject("PellarLib.Cell")
c.Pad(s, 5)
WScript.Echo "done"
