' Language parts Wine's VBScript does not run (listed in
' tests/windows/wine_differences.txt): Case ranges and Is, dynamic
' arrays declared with (), ReDim Preserve, Erase, assigning into a nested
' array, indexing a call's result, octal literals, Join, Filter, DateDiff,
' Set of a Dictionary item, TextStream.WriteBlankLines.
Function Pair(a, b)
  Pair = Array(a, b)
End Function
For Each v In Array(2, 5, 40, 100)
  Select Case v
    Case 3 To 9
      r = "three to nine"
    Case Is >= 50
      r = "fifty or more"
    Case Is < 3
      r = "below three"
    Case Else
      r = "else"
  End Select
  WScript.Echo "select:", v, r
Next
Dim dyn()
ReDim dyn(2)
dyn(0) = "a" : dyn(1) = "b" : dyn(2) = "c"
ReDim Preserve dyn(4)
dyn(4) = "e"
WScript.Echo "preserve:", dyn(0), dyn(2), "[" & dyn(3) & "]", dyn(4), UBound(dyn)
Dim grid()
ReDim grid(1, 2)
grid(1, 2) = 5
ReDim Preserve grid(1, 4)
WScript.Echo "preserve 2d:", grid(1, 2), UBound(grid, 2)
On Error Resume Next
ReDim Preserve grid(2, 4)
WScript.Echo "preserve first dimension:", Err.Number
On Error GoTo 0
Dim fixed(2)
fixed(1) = 3
Erase fixed
WScript.Echo "erase fixed:", "[" & fixed(1) & "]", UBound(fixed)
Erase dyn
On Error Resume Next
WScript.Echo "erase dynamic:", UBound(dyn)
WScript.Echo "erase dynamic:", Err.Number
On Error GoTo 0
t = Array("p", Array(1, 2), 3)
t(1)(0) = 7
WScript.Echo "nested set:", t(1)(0)
WScript.Echo "indexed:", Pair("x", "y")(1), Split("a;b;c", ";")(2)
WScript.Echo "octal:", &O17, &O777
WScript.Echo "join:", Join(Array(1, 2, 3), "-"), Join(Split("a b c")), "[" & Join(Array()) & "]"
WScript.Echo "filter:", UBound(Filter(Split("apple,banana,cherry", ","), "an")), Join(Filter(Split("apple,banana,cherry", ","), "e"), "+")
d = DateSerial(2024, 2, 29)
dt = d + TimeSerial(13, 5, 9)
WScript.Echo "datediff:", DateDiff("d", d, DateSerial(2024, 3, 31)), DateDiff("m", d, DateSerial(2025, 1, 1)), DateDiff("yyyy", d, DateSerial(2030, 1, 1)), DateDiff("h", d, dt), DateDiff("n", d, dt), DateDiff("d", dt, d)
Set d = CreateObject("Scripting.Dictionary")
Set d("self") = d
WScript.Echo "set item:", d("self").Count, d.Keys()(0)
Set fso = CreateObject("Scripting.FileSystemObject")
Set f = fso.CreateTextFile("blank_lines.txt")
f.WriteBlankLines 2
f.Close
WScript.Echo "blank lines:", Len(fso.OpenTextFile("blank_lines.txt").ReadAll)
Set re = New RegExp
re.Pattern = "x*"
re.Global = True
WScript.Echo "empty matches:", re.Replace("abc", "-"), re.Execute("ab").Count
WScript.Echo "done"
