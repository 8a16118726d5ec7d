' Failures under On Error Resume Next set Err and the script goes on with
' the next statement.
Set c = CreateObject("PellarLib.Cell")
On Error Resume Next
WScript.Echo "start:", Err.Number, "[" & Err.Description & "]"
c.SaveValue 0, 0, "x", ""
WScript.Echo "before Clear:", Err.Number, Err.Description
WScript.Echo "default property:", Err
Err.Clear
WScript.Echo "cleared:", Err.Number, "[" & Err.Description & "]"
c.Pad "x"
WScript.Echo "wrong count:", Err.Number, Err.Description
Err.Clear
c.NoSuch
WScript.Echo "no method:", Err.Number, Err.Description
Err.Clear
Set d = CreateObject("PellarLib.Nope")
WScript.Echo "unknown class:", Err.Number, Err.Description
Err.Clear
c.Clear "abc", 2
WScript.Echo "argument type:", Err.Number, Err.Description
Err.Clear
c.Pad "x", 40000
WScript.Echo "argument range:", Err.Number, Err.Description
Err.Clear

' A failed assignment leaves the variable as it was.
v = "kept"
v = CInt("abc")
WScript.Echo "conversion:", Err.Number, Err.Description, v
Err.Clear
v = Chr(256)
WScript.Echo "Chr range:", Err.Number, Err.Description, v
Err.Clear
v = CInt(32768)
WScript.Echo "overflow:", Err.Number, Err.Description, v
Err.Clear
v = Space(-1)
WScript.Echo "negative length:", Err.Number, Err.Description, v
Err.Clear
v = c.Pad("x", 1, 2)
WScript.Echo "failed call:", Err.Number, v
Err.Clear

' A failing argument stops the whole Echo.
WScript.Echo "never printed", c.Pad("x")
WScript.Echo "echo:", Err.Number
Err.Clear

n = 5
n.Pad "x", 1
WScript.Echo "not an object:", Err.Number, Err.Description
Err.Clear
x = n.Pad("x", 1)
WScript.Echo "not an object in an expression:", Err.Number, Err.Description
Err.Clear
c.Pad c, 1
WScript.Echo "object argument:", Err.Number, Err.Description
Err.Clear

' Err keeps the last failure across statements that succeed.
c.Pad "x"
y = 1
WScript.Echo "still set:", Err.Number
c.NoSuch
WScript.Echo "replaced:", Err.Number

' Both On Error statements clear Err.
On Error Resume Next
WScript.Echo "after Resume Next:", Err.Number, "[" & Err.Description & "]"
c.Pad "x"
On Error GoTo 0
WScript.Echo "after GoTo 0:", Err.Number, "[" & Err.Description & "]"
WScript.Echo "done"
