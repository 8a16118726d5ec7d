' CR LF line ends are one line end each; a CR never reaches a value.
x = "a"
WScript.Echo Len(x), "[" & x & "]" ' trailing comment

Rem a comment line
WScript.Echo "done"
