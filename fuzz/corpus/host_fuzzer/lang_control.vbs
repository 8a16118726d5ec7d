' If, Select Case, the loops and Exit.
For i = 1 To 3
  If i = 1 Then
    WScript.Echo "if:", i, "one"
  ElseIf i = 2 Then
    WScript.Echo "if:", i, "two"
  Else
    WScript.Echo "if:", i, "other"
  End If
Next
x = 5
If x > 3 Then WScript.Echo "single:", "big" Else WScript.Echo "single:", "small"
If x > 9 Then WScript.Echo "never" Else WScript.Echo "single:", "else" : WScript.Echo "single:", "both"
If x Then y = 1 : z = 2
WScript.Echo "colon:", y, z
For Each v In Array(1, 5, 12, "b", 42, 7.5, Empty)
  Select Case v
    Case 1, 2
      r = "one or two"
    Case "a", "b"
      r = "a letter"
    Case 12, 7.5
      r = "twelve or seven and a half"
    Case Empty
      r = "empty"
    Case Else
      r = "else"
  End Select
  WScript.Echo "select:", v, r
Next
t = ""
For i = 10 To 1 Step -3
  t = t & i & " "
Next
WScript.Echo "step:", t, i
t = ""
For i = 0 To 1 Step 0.25
  t = t & i & " "
Next
WScript.Echo "fraction:", t
For i = 5 To 1
  WScript.Echo "never"
Next
WScript.Echo "empty range:", i
n = 0
Do While n < 3
  n = n + 1
Loop
WScript.Echo "do while:", n
Do Until n = 0
  n = n - 1
Loop
WScript.Echo "do until:", n
Do
  n = n + 1
Loop While n < 5
WScript.Echo "loop while:", n
Do
  n = n + 10
Loop Until True
WScript.Echo "loop until:", n
While n > 10
  n = n - 4
Wend
WScript.Echo "wend:", n
found = ""
For i = 1 To 3
  For j = 1 To 3
    If j = 2 Then Exit For
    found = found & i & j & " "
  Next
  Do
    If i = 2 Then Exit Do
    found = found & "d "
    Exit Do
  Loop
Next
WScript.Echo "exit:", found
k = 0
Do
  k = k + 1
  If k = 4 Then Exit Do
Loop
WScript.Echo "exit do:", k
For i = 1 To 3
  i = i + 1
Next
WScript.Echo "counter:", i
WScript.Echo "done"
