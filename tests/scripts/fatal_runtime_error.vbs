' The host's own errors are runtime errors, reported at the column where
' the statement starts. On Error GoTo 0 ends the trapping.
n = 5
WScript.Echo "before"
On Error Resume Next
n.Pad "x", 1
On Error GoTo 0
    n.Pad "x", 1
WScript.Echo "never printed"
