' Dates: serials, parts, arithmetic and formats (US English forms, as the
' Windows script host prints them under an English locale).
d = DateSerial(2024, 2, 29)
WScript.Echo "serial:", d, TypeName(d), DateSerial(2024, 13, 1), DateSerial(2024, 3, 0)
t = TimeSerial(13, 5, 9)
WScript.Echo "time:", t, TimeSerial(0, 0, 0), TimeSerial(23, 59, 59)
dt = d + t
WScript.Echo "both:", dt, CDbl(DateSerial(2000, 1, 1))
WScript.Echo "parts:", Year(dt), Month(dt), Day(dt), Hour(dt), Minute(dt), Second(dt), Weekday(dt), Weekday(dt, 2)
WScript.Echo "cdate:", CDate("2024-03-01"), CDate("3/1/2024 14:30"), CDate("14:30:15"), IsDate("2024-03-01"), IsDate("nonsense")
WScript.Echo "literal:", #12/25/2024#, #2024-12-25 10:00:00 PM#
WScript.Echo "names:", MonthName(3), MonthName(3, True), WeekdayName(1), WeekdayName(2, True)
WScript.Echo "format:", FormatDateTime(dt, 0), FormatDateTime(dt, 1), FormatDateTime(dt, 2), FormatDateTime(dt, 3), FormatDateTime(dt, 4)
WScript.Echo "arithmetic:", d + 1, d - DateSerial(2024, 1, 1), CDate(d + 0.5)
WScript.Echo "dateadd:", DateAdd("d", 1, d), DateAdd("m", 1, DateSerial(2024, 1, 31)), DateAdd("yyyy", -1, d), DateAdd("h", 25, d), DateAdd("ww", 2, d)
n = Now
WScript.Echo "now:", TypeName(n), TypeName(Date), TypeName(Time), Year(n) >= 2024, Int(n) = Date
WScript.Echo "timer:", Timer >= 0, Timer < 86400
WScript.Echo "done"
