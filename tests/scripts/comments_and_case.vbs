Option Explicit
Dim first, Second, cell, x, Remark
' A whole-line comment.
Rem Another comment, with "an unclosed quote and ' marks
REM upper case too
   rem and indented

first = "one" ' a trailing comment
SECOND = "it's ' not a comment"
WScript.Echo First, second
wscript.echo "lower"
WSCRIPT.ECHO "upper"
Set cell = CREATEOBJECT("pellarlib.CELL")
WScript.Echo CELL.pad("ab", 4) & "|"
x = TRUE
WScript.Echo X, fAlSe, "[" & EMPTY & "]", LEN("abc"), len(VBTAB)
ON ERROR RESUME NEXT
cell.NOSUCH
WScript.Echo ERR.NUMBER, err.description
err.CLEAR
WScript.Echo Err.Number
on error goto 0
Remark = "a variable, not a comment"
WScript.Echo Remark
WScript.Echo "done"
