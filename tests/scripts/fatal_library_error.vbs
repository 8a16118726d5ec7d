' An untrapped library failure stops the script: one line on standard
' error, exit code 1.
Set c = CreateObject("PellarLib.Cell")
WScript.Echo "before"
c.SaveValue 0, 0, "x", ""
WScript.Echo "never printed"
