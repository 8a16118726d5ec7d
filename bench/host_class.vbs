' Classes in the script host benchmark, run unchanged by pellar and by the
' Windows script host (bench/host_bench.py runs both): 100,000 New, two
' property sets and a method call each, timed inside the script with Timer.
Class Point
  Private x_
  Private y_
  Public Property Get X()
    X = x_
  End Property
  Public Property Let X(v)
    x_ = v
  End Property
  Public Property Get Y()
    Y = y_
  End Property
  Public Property Let Y(v)
    y_ = v
  End Property
  Public Function Sum()
    Sum = x_ + y_
  End Function
End Class

t0 = Timer
total = 0
For i = 1 To 100000
  Set p = New Point
  p.X = i
  p.Y = 2
  total = total + p.Sum()
Next
t1 = Timer

WScript.Echo "check", total, p.X + p.Y
WScript.Echo "class", t1 - t0
