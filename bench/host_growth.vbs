' Arrays grown one element at a time, as report scripts collect rows: run by
' pellar alone (Wine's VBScript has no ReDim Preserve), timed with Timer.
Function Grow(count)
  Dim a()
  ReDim a(-1)
  t = Timer
  For i = 0 To count - 1
    ReDim Preserve a(i)
    a(i) = i
  Next
  Grow = Timer - t
End Function
WScript.Echo "grow100k", Grow(100000)
WScript.Echo "grow1m", Grow(1000000)
