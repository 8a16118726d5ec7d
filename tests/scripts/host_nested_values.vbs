' native-only
' Values nested hundreds of thousands deep are let go of one after another,
' not by recursion: neither freeing them nor the end of the run exhausts the
' stack.
a = Empty
For i = 1 To 200000
  a = Array(a)
Next
a = Empty
WScript.Echo "arrays freed"
Set d = Nothing
For i = 1 To 300000
  Set e = CreateObject("Scripting.Dictionary")
  e.Add "inner", d
  Set d = e
Next
Set e = Nothing
Set d = Nothing
WScript.Echo "dictionaries freed"
' Left for the end of the run, which lets go of them after this failure.
For i = 1 To 200000
  a = Array(a)
Next
Err.Raise 28
