' Delimited files: a work area saved, loaded back into another one and
' searched by key, with the row limit and the refusals a report can meet.
Set c = CreateObject("PellarLib.Cell")
WScript.Echo c.Clear(3, 2)
WScript.Echo c.SaveValue(0, 0, "id", ""), c.SaveValue(0, 1, "name", ""), c.SaveValue(0, 2, "city", "")
WScript.Echo c.SaveValue(1, 0, "k1", ""), c.SaveValue(1, 1, "Ada", """"), c.SaveValue(1, 2, "London", "")
WScript.Echo c.SaveValue(2, 0, "k2", ""), c.SaveValue(2, 1, "Blaise", """")
WScript.Echo c.SaveFile("people.csv", ",", 0)

' Each line of the file, as one value per row
Set lines = CreateObject("PellarLib.Cell")
WScript.Echo lines.Clear(9, 0)
WScript.Echo lines.LoadFile("people.csv", "")
WScript.Echo "[" & lines.GetValue(0, 0, "") & "]"
WScript.Echo "[" & lines.GetValue(1, 0, "") & "]"
WScript.Echo "[" & lines.GetValue(2, 0, "") & "]"
WScript.Echo "[" & lines.GetValue(3, 0, "") & "]"
WScript.Echo "[" & lines.GetValue(4, 0, "") & "]"

' Loaded back field by field: the quotes stay part of the values
Set d = CreateObject("PellarLib.Cell")
WScript.Echo d.Clear(3, 2)
WScript.Echo d.SaveValue(2, 2, "kept", "")
WScript.Echo d.LoadFile("people.csv", ",")
WScript.Echo d.GetValue(1, 1, """"), d.GetValue(1, 1, ""), d.GetValue(2, 2, ""), "[" & d.GetValue(3, 0, "") & "]"

' Lookup: first match, nothing found, too few fields
WScript.Echo c.Lookup("people.csv", 0, "k2", 1, ",")
WScript.Echo c.Lookup("people.csv", 2, "London", 0, ",")
WScript.Echo "[" & c.Lookup("people.csv", 0, "k3", 1, ",") & "]"
WScript.Echo "[" & c.Lookup("people.csv", 0, "k2", 2, ",") & "]"
WScript.Echo "[" & c.Lookup("people.csv", 0, "k2", -1, ",") & "]"

' The row limit lowers the work area's own bound; loading the shorter file
' leaves the third row from the earlier load in place
WScript.Echo c.SaveFile("two.csv", ";;", 1)
WScript.Echo c.SaveValue(2, 0, "x", "")
WScript.Echo lines.LoadFile("two.csv", "")
WScript.Echo "[" & lines.GetValue(0, 0, "") & "]", "[" & lines.GetValue(1, 0, "") & "]", "[" & lines.GetValue(2, 0, "") & "]"
WScript.Echo c.SaveFile("none.csv", ",", -1)
WScript.Echo c.SaveValue(0, 0, "x", "")

' Refusals and failures
WScript.Echo c.SaveFile("", ",", 0)
WScript.Echo c.SaveFile("nofolder/x.csv", ",", 0)
WScript.Echo d.LoadFile("", ",")
WScript.Echo d.LoadFile("missing.csv", ",")
On Error Resume Next
x = c.Lookup("missing.csv", 0, "k", 0, ",")
WScript.Echo "lookup of a missing file:", Err.Number, Err.Description
Err.Clear
x = c.Lookup("people.csv", 5, "k", 0, ",")
WScript.Echo "lookup without the key field:", Err.Number, Err.Description
Err.Clear
On Error GoTo 0
WScript.Echo "done"
