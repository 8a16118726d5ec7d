' Run-time errors with their numbers and texts, Err.Raise, Err.Source,
' and On Error inside procedures.
On Error Resume Next
x = CInt(70000)
WScript.Echo "overflow:", Err.Number, Err.Description, Err.Source
Err.Clear
x = Mid("abc", 0)
WScript.Echo "invalid call:", Err.Number, Err.Description
Err.Clear
Dim a(1)
x = a(2)
WScript.Echo "subscript:", Err.Number, Err.Description
Err.Clear
x = 1 / 0
WScript.Echo "division:", Err.Number, Err.Description
Err.Clear
x = 5 Mod 0
WScript.Echo "modulo:", Err.Number, Err.Description
Err.Clear
x = "abc" * 2
WScript.Echo "mismatch:", Err.Number, Err.Description
Err.Clear
n = 5
n.Method
WScript.Echo "object required:", Err.Number, Err.Description
Err.Clear
Set d = CreateObject("Scripting.Dictionary")
d.NoSuchThing
WScript.Echo "no member:", Err.Number, Err.Description
Err.Clear
Err.Raise 1000
WScript.Echo "raise:", Err.Number, Err.Description, Err.Source
Err.Clear
Err.Raise vbObjectError + 7, "Report", "Missing row"
WScript.Echo "raise custom:", Err.Number - vbObjectError, Err.Description, Err.Source
Err.Clear
Err.Raise 13
WScript.Echo "raise known:", Err.Number, Err.Description
Err.Clear
Sub Inner()
  x = 1 / 0
  WScript.Echo "never printed"
End Sub
Sub Guarded()
  On Error Resume Next
  Inner
  WScript.Echo "guarded:", Err.Number <> 0
End Sub
On Error GoTo 0
Guarded
On Error Resume Next
Function Fails()
  Fails = 1
  Err.Raise 5
  Fails = 2
End Function
r = Fails()
WScript.Echo "in function:", Err.Number, "[" & r & "]"
Err.Clear
Sub Resumes()
  On Error Resume Next
  Err.Raise 6
  WScript.Echo "resumes:", Err.Number
End Sub
Resumes
WScript.Echo "after:", Err.Number
Err.Number = 42
WScript.Echo "set number:", Err.Number, Err
Err.Clear
WScript.Echo "cleared:", Err.Number, "[" & Err.Description & "]"
WScript.Echo "done"
