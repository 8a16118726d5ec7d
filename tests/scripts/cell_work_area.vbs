' The Cell work area: grid values and formats, and the text helpers.
Set c = CreateObject("PellarLib.Cell")
WScript.Echo c.Clear(10, 3)
WScript.Echo c.SaveValue(1, 1, "alpha", """")
WScript.Echo c.GetValue(1, 1, """"), c.GetValue(1, 1, ""), c.GetValue(1, 1, "xy")
WScript.Echo c.SaveValue(10, 3, "corner", "|"), c.GetValue(10, 3, "|")
WScript.Echo "[" & c.GetValue(2, 2, "") & "]"
' A one-character delimiter is stripped once at each end, when present.
WScript.Echo c.SaveValue(3, 0, "'quoted'", "'"), c.GetValue(3, 0, "'")
WScript.Echo c.SaveValue(4, 0, "plain", ""), c.GetValue(4, 0, "*")
' Arguments are converted to the declared types.
c.SaveValue "5", "2", 12, ""
WScript.Echo c.GetValue(5, 2, ""), Len(c.GetValue(5, 2, ""))
' Saving again replaces the value.
c.SaveValue 1, 1, "beta", ""
WScript.Echo c.GetValue(1, 1, "")
' Out of range: a message instead of a failure, the row checked first.
WScript.Echo c.SaveValue(11, 0, "x", "")
WScript.Echo c.SaveValue(0, -1, "x", "")
WScript.Echo c.SaveValue(0, 4, "x", "")
WScript.Echo c.SaveValue(11, -1, "x", "")
WScript.Echo "[" & c.GetValue(11, 0, "") & "][" & c.GetValue(0, -1, "") & "]"
' Formats accumulate; CopyFormat checks its rectangle.
WScript.Echo c.SaveFormat(1, 1, "Bold", "True")
WScript.Echo c.SaveFormat(1, 1, "Size", "12")
WScript.Echo c.SaveFormat(12, 1, "Bold", "True")
WScript.Echo c.CopyFormat(1, 1, 2, 0, 3, 2)
WScript.Echo c.CopyFormat(1, 1, 2, 0, 1, 2)
WScript.Echo c.CopyFormat(1, 1, 2, 2, 3, 1)
WScript.Echo c.CopyFormat(11, 1, 2, 0, 3, 2)
WScript.Echo c.CopyFormat(1, 4, 2, 0, 3, 2)
WScript.Echo c.CopyFormat(1, 1, 2, 0, 30, 2)
' Pad cuts or pads; FormatCSVData quotes only texts with a comma.
WScript.Echo "[" & c.Pad("abc", 6) & "][" & c.Pad("abcdef", 3) & "][" & c.Pad("", 2) & "]"
WScript.Echo c.FormatCSVData("plain"), c.FormatCSVData("a,b")
WScript.Echo c.FormatCSVData("say ""hi"""), c.FormatCSVData("x,""y""")
' Clear again: new bounds, old values gone.
WScript.Echo c.Clear(2, 2)
WScript.Echo "[" & c.GetValue(1, 1, "") & "]"
WScript.Echo c.SaveValue(3, 0, "x", "")
WScript.Echo "done"
