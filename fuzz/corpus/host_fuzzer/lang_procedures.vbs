' Subs and Functions: ByRef by default, ByVal, recursion, calls with and
' without Call, Exit Sub and Exit Function, a result indexed directly.
Function Factorial(n)
  If n <= 1 Then
    Factorial = 1
  Else
    Factorial = n * Factorial(n - 1)
  End If
End Function

Sub Bump(a, ByVal b)
  a = a + 1
  b = b + 1
End Sub

Function Describe(x)
  Describe = "small"
  If x < 10 Then Exit Function
  Describe = "big"
End Function

Sub Stop3(ByRef count)
  Dim i
  For i = 1 To 10
    count = count + 1
    If i = 3 Then Exit Sub
  Next
End Sub

Function Pair(a, b)
  Pair = Array(a, b)
End Function

Function Counter()
  total = total + 1
  Counter = total
End Function

WScript.Echo "recursion:", Factorial(5), Factorial(12), TypeName(Factorial(12))
p = 1 : q = 1
Bump p, q
WScript.Echo "byref:", p, q
Bump (p), q
WScript.Echo "parenthesised:", p
Call Bump(p, q)
WScript.Echo "call:", p, q
Dim arr(2)
arr(1) = 10
Bump arr(1), q
WScript.Echo "element:", arr(1)
Bump arr(1) + 0, q
WScript.Echo "expression:", arr(1)
WScript.Echo "exit function:", Describe(3), Describe(30)
c = 0
Stop3 c
WScript.Echo "exit sub:", c
p = Pair("x", "y")
WScript.Echo "array result:", p(1)
total = 100
WScript.Echo "global:", Counter(), Counter(), total
Function Shadow(total)
  total = total * 2
  Shadow = total
End Function
WScript.Echo "shadow:", Shadow(3), total
Sub NoArgs
  WScript.Echo "no args:", "ran"
End Sub
NoArgs
Call NoArgs()
Sub Nested(level)
  If level > 0 Then Nested level - 1 Else WScript.Echo "nested:", "bottom"
End Sub
Nested 50
WScript.Echo "done"
