' Fixed, multi-dimensional and dynamic arrays; ReDim Preserve; Erase;
' arrays are copied on assignment.
Dim a(3), grid(2, 3), dyn
For i = 0 To 3
  a(i) = i * i
Next
WScript.Echo "fixed:", a(0), a(3), UBound(a), LBound(a), IsArray(a), TypeName(a)
For r = 0 To 2
  For c = 0 To 3
    grid(r, c) = r * 10 + c
  Next
Next
WScript.Echo "grid:", grid(2, 3), grid(1, 0), UBound(grid, 1), UBound(grid, 2)
ReDim dyn(2)
dyn(0) = "a" : dyn(1) = "b" : dyn(2) = "c"
ReDim dyn(1)
WScript.Echo "redim:", "[" & dyn(0) & "]", UBound(dyn)
b = a
b(0) = 99
WScript.Echo "copy:", a(0), b(0)
s = Split("x;y;z", ";")
WScript.Echo "split:", UBound(s), s(0), s(2)
t = Array("p", Array(1, 2), 3)
WScript.Echo "nested:", t(1)(1), UBound(t(1))
total = 0
For Each v In a
  total = total + v
Next
WScript.Echo "for each:", total
e = Array()
WScript.Echo "empty:", UBound(e)
On Error Resume Next
x = a(4)
WScript.Echo "bounds:", Err.Number, Err.Description
Err.Clear
ReDim a(5)
WScript.Echo "fixed redim:", Err.Number, Err.Description
WScript.Echo "done"
