' A bare variable argument is passed by reference, so the method's ref
' parameter changes it; any other expression, (s) included, by value.
Set c = CreateObject("PellarLib.Cell")
s = "ab"
c.Pad s, 5
WScript.Echo "statement:", "[" & s & "]"
s = "ab"
c.Pad (s), 6
WScript.Echo "statement, (s):", "[" & s & "]"
s = "ab"
c.Pad s & "", 6
WScript.Echo "statement, expression:", "[" & s & "]"
s = "ab"
Call c.Pad(s, 3)
WScript.Echo "Call:", "[" & s & "]"
s = "ab"
Call c.Pad((s), 3)
WScript.Echo "Call, (s):", "[" & s & "]"
s = "ab"
x = c.Pad(s, 4)
WScript.Echo "function:", "[" & s & "][" & x & "]"
s = "ab"
x = c.Pad((s), 5)
WScript.Echo "function, (s):", "[" & s & "][" & x & "]"
' Cutting shortens only the answer.
s = "abcdef"
x = c.Pad(s, 2)
WScript.Echo "cut:", "[" & s & "][" & x & "]"
' An inner call changes s before the outer expression reads it.
s = "ab"
WScript.Echo "nested:", "[" & c.Pad(c.Pad(s, 3) & "|", 6) & "][" & s & "]"
' Literals and other by-value arguments are never changed.
x = c.Pad("lit", 5)
WScript.Echo "literal:", "[" & x & "]"
WScript.Echo "done"
