' native-only
' Chains as long as a script may write them end with error 28 "Out of stack
' space", never with the host's own stack overflowing; shorter ones run.
On Error Resume Next
x = 1[[499| + 1]]
WScript.Echo "short:", x
x = 1[[49999| + 1]]
WScript.Echo "plus:", Err.Number, Err.Description
Err.Clear
x = True[[49999| And True]]
WScript.Echo "and:", Err.Number
Err.Clear
x = False[[49999| Imp True]]
WScript.Echo "imp:", Err.Number
Err.Clear
x = 1[[49999| < 2]]
WScript.Echo "compare:", Err.Number
Err.Clear
a = Array(1)
x = a[[50000|(0)]]
WScript.Echo "index:", Err.Number
Err.Clear
a[[50000|(0)]] = 2
WScript.Echo "assign:", Err.Number
Err.Clear
Function Down(n)
  Down = Down(n + 1)
End Function
x = Down(0)
WScript.Echo "recursion:", Err.Number
On Error GoTo 0
x = 2[[49999| ^ 1]]
WScript.Echo "not reached"
