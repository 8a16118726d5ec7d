x = 2
WScript.Echo Eval("x = 2"), Eval("x * 3")
Execute "y = x + 1 : Dim z : z = y"
ExecuteGlobal "Function Twice(n) : Twice = n * 2 : End Function"
Sub S
  Execute "Dim q : q = Twice(z)"
  WScript.Echo Eval("q")
End Sub
S
Set f = GetRef("Twice")
WScript.Echo f(4)
On Error Resume Next
Execute "x = = 1"
code = "Execute code"
Execute code
WScript.Echo Err.Number
