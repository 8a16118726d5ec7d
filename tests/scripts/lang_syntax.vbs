' Statements separated by ":", lines continued with " _", comments,
' Const, Option Explicit, keywords in any case.
Option Explicit
Dim a, b, total, msg : a = 1 : b = 2
Const kLimit = 10, kName = "report"
total = a + _
        b + _
        kLimit
WScript.Echo "continued:", total, kName ' a trailing comment
Rem a comment line
msg = "it's" & _
  " fine"
WScript.Echo "joined:", msg
IF a = 1 THEN wscript.ECHO "case:", "any"
Private p : p = 3
Public q : q = 4
WScript.Echo "declared:", p + q
On Error Resume Next
undeclared = 5
WScript.Echo "explicit:", Err.Number, Err.Description
Err.Clear
WScript.Echo "explicit read:", undeclared2, Err.Number
WScript.Echo "done"
