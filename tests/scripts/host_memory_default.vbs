' native-only
' The default budget of 1 GiB: a text of sixty million commas is not split
' into sixty million elements (5 GB), under On Error Resume Next or not.
On Error Resume Next
x = Split(String(6e7, ","), ",")
WScript.Echo "split:", Err.Number, Err.Description, IsEmpty(x)
On Error GoTo 0
x = Split(String(6e7, ","), ",")
WScript.Echo "not reached"
