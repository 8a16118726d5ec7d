' native-only: a bare WScript.Echo, which Wine's cscript refuses.
' Literals, concatenation and what Echo prints for each kind of value.
WScript.Echo "plain text"
WScript.Echo "say ""hi"""
WScript.Echo ""
WScript.Echo
WScript.Echo 0, 7, 32767, 32768, 2147483647, 2147483648
WScript.Echo -5, -32768, -2147483648, - - 3, -(-3)
WScript.Echo True, False
WScript.Echo "[" & True & "][" & False & "]"
WScript.Echo "[" & Empty & "]", Empty, "|"
WScript.Echo "a" & "b" & 1 & -2
WScript.Echo ("grouped" & (" text"))
WScript.Echo "tab" & vbTab & "end"
WScript.Echo "two" & vbLf & "lines"
WScript.Echo "kept" & vbCrLf & "as is"
WScript.Echo Len(vbCrLf), Len(vbCr), Len(vbLf), Len(vbTab)
WScript.Echo "euro " & Chr(128) & Chr(65)
x = "assigned"
WScript.Echo x
WScript.Echo "[" & never_assigned & "]"
n = 41
WScript.Echo n & 1
n = "replaced"
WScript.Echo n
WScript.Echo "done"
