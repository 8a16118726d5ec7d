' Money and percentages (US English), numbers with thousands separators,
' and a call with the wrong number of arguments, raised when it runs.
WScript.Echo "currency:", FormatCurrency(-1234.56), FormatCurrency(1234.565), FormatCurrency(-1234.56, 1, , 0), FormatCurrency(0.5, 2, 0), FormatCurrency(1000000)
WScript.Echo "percent:", FormatPercent(0.256), FormatPercent(-0.256), FormatPercent(12.3456, 0), FormatPercent(0.5, 2, 0), FormatPercent(1)
WScript.Echo "thousands:", IsNumeric("1,000"), CDbl("1,000"), CLng("1,000.5"), "1,000" + 1, CDbl(" 12,345,678.25 ")
WScript.Echo "not numbers:", IsNumeric(",5"), IsNumeric("1,000x")
Sub Two(a, b)
  WScript.Echo "two", a, b
End Sub
Function Three(a, b, c)
  Three = a + b + c
End Function
If False Then Two 1
On Error Resume Next
Two 1
WScript.Echo "arity:", Err.Number, Err.Description
Err.Clear
y = Three(1, 2)
WScript.Echo "arity:", "function", Err.Number, IsEmpty(y)
Err.Clear
On Error GoTo 0
WScript.Echo "arity right:", Three(1, 2, 3)
WScript.Echo "done"
