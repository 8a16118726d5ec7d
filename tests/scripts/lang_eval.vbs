' Eval, Execute, ExecuteGlobal and GetRef, with the scope rules of the
' language reference.
Dim x, y
x = 3 : y = 3
' In Eval "=" compares; in Execute it assigns.
WScript.Echo "eval compare:", CStr(Eval("x = y")), CStr(Eval("x = 4"))
WScript.Echo "eval value:", Eval("x * 2 + y"), Eval("UCase(""abc"") & Len(""ab"")")
Execute "x = y + 1"
WScript.Echo "execute assigns:", x
Execute "a1 = 1 : a2 = 2" & vbCrLf & "a3 = a1 + a2" & vbLf & "a4 = a3 * 2"
WScript.Echo "statements:", a1, a2, a3, a4

' Execute runs in the procedure's scope, ExecuteGlobal in the global one; a
' procedure created by Execute sees the global scope, not the procedure's.
Dim s
s = "global"
Sub Scoped
  Dim s
  s = "local"
  Execute "s = s & "" changed"""
  WScript.Echo "execute local:", s, "/", Eval("s")
  Execute "Dim fresh : fresh = ""declared here"""
  WScript.Echo "declared in procedure:", Eval("fresh")
  ExecuteGlobal "s = s & "" too"""
  WScript.Echo "executeglobal:", s
  Execute "Sub Nested : WScript.Echo ""nested sees:"", s : End Sub"
  Nested
End Sub
Scoped
WScript.Echo "global after:", s, "[" & Eval("fresh") & "]"

' Procedures and variables defined at run time, called by the script.
ExecuteGlobal "Function Square(n)" & vbCrLf & "  Square = n * n" & vbCrLf & "End Function"
WScript.Echo "defined function:", Square(12)
ExecuteGlobal "Dim total : total = 0 : Sub AddTo(n) : total = total + n : End Sub"
AddTo 5 : AddTo 7
WScript.Echo "defined sub:", total
Sub UseLater
  WScript.Echo "from a procedure:", Square(3), Cube(2)
End Sub
ExecuteGlobal "Function Cube(n) : Cube = n * n * n : End Function"
UseLater

' GetRef: dispatch tables and callbacks.
Function Add(a, b) : Add = a + b : End Function
Function Subtract(a, b) : Subtract = a - b : End Function
Set ops = CreateObject("Scripting.Dictionary")
ops.Add "+", GetRef("Add")
ops.Add "-", GetRef("subtract")
For Each k In ops.Keys
  WScript.Echo "dispatch " & k & ":", ops(k)(9, 4)
Next
Dim handlers(1)
Set handlers(0) = GetRef("Add")
Set handlers(1) = GetRef("Square")
WScript.Echo "array of references:", handlers(0)(1, 2), handlers(1)(5)
Set f = GetRef("Add")
WScript.Echo "typename:", TypeName(f), VarType(f), IsObject(f)
Sub OnEvent(name) : WScript.Echo "event:", name : End Sub
Sub Fire(handler, name) : handler name : End Sub
Fire GetRef("OnEvent"), "saved"
Sub Increment(ByRef n) : n = n + 1 : End Sub
counter = 1
Set inc = GetRef("Increment")
inc counter
WScript.Echo "by reference through GetRef:", counter

' Failures in executed texts and through references are trappable.
On Error Resume Next
Execute "x = = 1"
WScript.Echo "syntax error:", Err.Number, Err.Description
Err.Clear
Execute "If x Then"
WScript.Echo "unfinished if:", Err.Number, Err.Description
Err.Clear
v = Eval("1 +")
WScript.Echo "eval syntax error:", Err.Number
Err.Clear
Execute "WScript.Echo ""before"" : z = 1 / 0 : WScript.Echo ""not reached"""
WScript.Echo "runtime error inside:", Err.Number
Err.Clear
r = f(1)
WScript.Echo "wrong count through reference:", Err.Number, Err.Description
Err.Clear
Set g = GetRef("NoSuchProcedure")
WScript.Echo "unknown name:", Err.Number, Err.Description
Err.Clear
Set g = GetRef("x")
WScript.Echo "variable name:", Err.Number
Err.Clear
code = "Execute code"
Execute code
WScript.Echo "self-executing text:", Err.Number, Err.Description
Err.Clear
On Error GoTo 0

' In a class's procedure the texts see its arguments and locals, the
' instance's members (by bare name, as the usual "m_" & name setter does,
' and through Me) and the script's procedures; New of the script's classes
' works in a text. A text cannot declare a class of its own.
Class Gauge
  Public level
  Private unit_
  Sub Class_Initialize : level = 1 : unit_ = "cm" : End Sub
  Sub SetMember(name, value)
    Execute "m = value : " & name & " = m"
  End Sub
  Function Report(extra)
    Dim local
    local = 10
    Execute "local = local + extra + level : Me.level = Me.level * 5"
    Report = Eval("local") & " " & Eval("Me.level & unit_") & " " & level
  End Function
  Function Apply(name, n)
    Set op = GetRef(name)
    Apply = op(n, 4)
  End Function
  Function Sibling()
    Execute "Set other = New Gauge : other.level = level + 1"
    Set Sibling = other
  End Function
End Class
Set gauge = New Gauge
WScript.Echo "class texts:", gauge.Report(2)
gauge.SetMember "unit_", "mm"
gauge.SetMember "level", 7
WScript.Echo "member set by a text:", gauge.Report(0)
WScript.Echo "GetRef in a method:", gauge.Apply("Add", 5), gauge.Apply("Subtract", 5)
WScript.Echo "New in a text:", TypeName(gauge.Sibling()), gauge.Sibling().level
On Error Resume Next
ExecuteGlobal "Class Later" & vbLf & "End Class"
WScript.Echo "class in a text:", Err.Number, Err.Description
Err.Clear
v = Eval("Me")
If Err.Number <> 0 Then WScript.Echo "Me outside a class: an error"
Err.Clear
' A class's method is no global procedure: it needs its instance.
Set g = GetRef("Report")
WScript.Echo "GetRef of a method:", Err.Number
Err.Clear
v = Eval("Report(1)")
WScript.Echo "method by bare name outside:", Err.Number
On Error GoTo 0
WScript.Echo "done"
