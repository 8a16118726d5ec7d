' native-only
' One budget (here --max-memory=100M) for all the values a script holds:
' whatever would make a text, an array or a dictionary past it fails with 7.
On Error Resume Next
x = Split(String(4e7, ","), ",")
WScript.Echo "split:", Err.Number, Err.Description, IsEmpty(x)
Err.Clear
hold = Space(4e7)  ' 80 MB of the budget
x = Space(15e6)
WScript.Echo "space:", Err.Number
Err.Clear
x = String(15e6, "a")
WScript.Echo "string:", Err.Number
Err.Clear
x = Replace(Space(3e6), " ", "0123456789")
WScript.Echo "replace:", Err.Number
Err.Clear
x = Join(Array("a", "b"), Space(8e6))
WScript.Echo "join:", Err.Number
Err.Clear
x = hold & "."
WScript.Echo "concatenate:", Err.Number
Err.Clear
hold = hold & Space(8e6)
WScript.Echo "append:", Err.Number, Len(hold)
Err.Clear
ReDim big(2000000)
WScript.Echo "redim:", Err.Number
Err.Clear
Dim keep(99)
For i = 0 To 99
  keep(i) = Split(Space(99999), " ")
  If Err.Number <> 0 Then Exit For
Next
WScript.Echo "arrays:", Err.Number, i < 99
Err.Clear
Erase keep
Set d = CreateObject("Scripting.Dictionary")
For i = 1 To 100000
  d.Add Space(1000) & i, i
  If Err.Number <> 0 Then Exit For
Next
WScript.Echo "dictionary:", Err.Number, d.Count < 100000
Err.Clear
Set d = Nothing
Set fso = CreateObject("Scripting.FileSystemObject")
Set f = fso.CreateTextFile("big.txt")
For i = 1 To 13
  f.Write Space(1e6)
Next
f.Close
Set f = fso.OpenTextFile("big.txt")
WScript.Echo "file read:", Err.Number
Err.Clear
fso.DeleteFile "big.txt"
' What was given back can be used again.
hold = Empty
x = Space(15e6)
WScript.Echo "after:", Err.Number, Len(x)
On Error GoTo 0
x = x & x & x
WScript.Echo "not reached"
