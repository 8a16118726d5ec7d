' native-only
' Date arithmetic and conversions past the years 100 to 9999 raise 6
' "Overflow" instead of making a date that is none.
On Error Resume Next
x = DateAdd("yyyy", 1e9, #1/1/2000#)
WScript.Echo "years:", Err.Number, Err.Description
Err.Clear
x = DateAdd("d", 1e300, #1/1/2000#)
WScript.Echo "days:", Err.Number
Err.Clear
x = CDate(1e300)
WScript.Echo "cdate:", Err.Number
Err.Clear
x = DateSerial(9999, 12, 32)
WScript.Echo "dateserial:", Err.Number
Err.Clear
x = #12/31/9999# + 1
WScript.Echo "sum:", Err.Number
On Error GoTo 0
WScript.Echo "last day:", DateAdd("yyyy", 7999, #12/31/2000#), CDate(2958465)
WScript.Echo "first day:", CDate(-657434), DateAdd("d", -1, #1/2/100#)
WScript.Echo "year 32:", IsDate("0032-01-01")
WScript.Echo "done"
