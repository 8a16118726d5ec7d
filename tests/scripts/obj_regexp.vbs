' RegExp: Test, Execute with its Matches, Match and SubMatches, Replace with
' the $ forms, the flags, and a bad pattern raising 5017 when it is used.
Set re = New RegExp
re.Pattern = "(\w+)@(\w+)\.com"
re.Global = True
s = "ann@example.com, bob@test.com; none@x.org"
WScript.Echo "test:", re.Test(s), re.Test("nobody")
Set ms = re.Execute(s)
WScript.Echo "count:", ms.Count, ms(1).Value, ms.Item(0).FirstIndex
For Each m In ms
  WScript.Echo "match:", m.Value, m.FirstIndex, m.Length, m.SubMatches.Count, m.SubMatches(0), m.SubMatches(1), m
Next
WScript.Echo "replace:", re.Replace(s, "$2:$1 [$&] <$$>")
re.Global = False
WScript.Echo "first:", re.Replace(s, "X"), re.Execute(s).Count
Set r2 = CreateObject("VBScript.RegExp")
r2.Pattern = "^b.*$"
r2.Multiline = True
r2.Global = True
WScript.Echo "multiline:", r2.Execute("abc" & vbLf & "bcd" & vbLf & "bee").Count
r2.Multiline = False
WScript.Echo "one line:", r2.Execute("abc" & vbLf & "bcd").Count, r2.Test("bcd" & vbLf)
r2.Pattern = "B"
r2.IgnoreCase = True
WScript.Echo "ignore case:", r2.Replace("abcB", "-"), r2.IgnoreCase, r2.Pattern
r2.IgnoreCase = False
WScript.Echo "case:", r2.Replace("abcB", "-")
r2.Pattern = "(a)|(b)"
Set m = r2.Execute("b")(0)
WScript.Echo "unmatched:", IsEmpty(m.SubMatches(0)), m.SubMatches(1)
WScript.Echo "context:", r2.Replace("xbz", "[$`|$'|$1|$2]")
r2.Pattern = "(\d+)-(\d+)"
WScript.Echo "swap:", r2.Replace("10-20 30-40", "$2-$1")
On Error Resume Next
r2.Pattern = "(a"
x = r2.Test("a")
WScript.Echo "bad pattern:", Err.Number, Err.Description
Err.Clear
On Error GoTo 0
WScript.Echo "done"
