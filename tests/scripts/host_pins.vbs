' native-only
' Edges each of which told a plausible slip in the host from the right code.
WScript.Echo "integer:", TypeName(32766 + 1), TypeName(32767 + 1), _
    TypeName(-32767 - 1), TypeName(-32768 - 1)
n = 0
For i = 1 To 0 Step 0
  n = n + 1
  If n > 3 Then Exit For
Next
WScript.Echo "step 0 passes:", n
For i = 1 To 40000
  t = TypeName(i)
  Exit For
Next
WScript.Echo "long bound:", t
For i = 1 To 300
  t = TypeName(i)
  Exit For
Next
WScript.Echo "integer bound:", t
Set d = CreateObject("Scripting.Dictionary")
d.Add 1, "integer"
d(1.0) = "double"
d(CLng(1)) = "long"
WScript.Echo "one key:", d.Count, d(1), d.Exists(1.0)
WScript.Echo "instr empty:", InStr(4, "abc", ""), InStr(5, "abc", ""), _
    InStr(1, "abc", "")
WScript.Echo "pivot:", Year(DateSerial(30, 1, 1)), Year(DateSerial(29, 1, 1)), _
    Year(DateSerial(99, 1, 1)), Year(DateSerial(100, 1, 1))
WScript.Echo "done"
