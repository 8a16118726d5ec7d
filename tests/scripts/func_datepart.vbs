' DatePart with every interval and the first-day and first-week rules, and
' arrays grown one element at a time with ReDim Preserve.
d = #2/29/2024 1:05:09 PM#
WScript.Echo "datepart:", DatePart("yyyy", d), DatePart("q", d), DatePart("m", d), DatePart("y", d), DatePart("d", d), DatePart("h", d), DatePart("n", d), DatePart("s", d), TypeName(DatePart("d", d))
WScript.Echo "weekday part:", DatePart("w", d), DatePart("w", d, vbMonday), DatePart("w", d, 0), DatePart("y", #12/31/2024#), DatePart("Q", #12/31/2024#)
WScript.Echo "week part:", DatePart("ww", #1/1/2025#), DatePart("ww", #1/4/2025#), DatePart("ww", #1/5/2025#), DatePart("ww", #12/31/2024#)
WScript.Echo "week rules:", DatePart("ww", #1/1/2021#, vbMonday, vbFirstFourDays), DatePart("ww", #1/4/2021#, 2, 2), DatePart("ww", #1/1/2022#, 2, vbFirstFullWeek), DatePart("ww", #1/3/2022#, 2, 3), DatePart("ww", #1/3/2021#, 1, 3)
WScript.Echo "null part:", IsNull(DatePart("d", Null))
On Error Resume Next
x = DatePart("x", d)
WScript.Echo "bad part:", Err.Number
Err.Clear
x = DatePart("d", d, 8)
WScript.Echo "bad day:", Err.Number
Err.Clear
x = DatePart("ww", d, 1, 4)
WScript.Echo "bad week:", Err.Number
Err.Clear
On Error GoTo 0
Dim a()
ReDim a(-1)
For i = 0 To 9999
  ReDim Preserve a(i)
  a(i) = i
Next
WScript.Echo "growth:", UBound(a), a(9999), a(5)
ReDim m(2, 1)
m(2, 1) = "x"
ReDim Preserve m(2, 3)
WScript.Echo "growth 2d:", m(2, 1), UBound(m, 2), IsEmpty(m(2, 3))
On Error Resume Next
ReDim Preserve m(3, 3)
WScript.Echo "growth first bound:", Err.Number, m(2, 1)
Err.Clear
On Error GoTo 0
b = a
ReDim Preserve a(1)
WScript.Echo "growth copy:", UBound(a), UBound(b), b(9999)
WScript.Echo "done"
