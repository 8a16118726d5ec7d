' Edge rules of the evaluator: promotion at the Long boundary, integer
' division and Mod of doubles and negatives, banker's rounding in CInt and
' CLng, 15-digit texts of doubles, Null in logical operators, searches at
' the ends of texts, FormatNumber's rounding and hexadecimal literals.
WScript.Echo "long:", CLng(-2147483647) - 1, TypeName(CLng(-2147483647) - 1), TypeName(2147483647 * 2), 16384 * 2
WScript.Echo "intdiv:", 7.9 \ 2, -7.9 \ 2, 7.5 \ 2.5, TypeName(7.9 \ 2)
WScript.Echo "mod:", 7.9 Mod 3, -7.9 Mod 3, 5.5 Mod 2.5, -5 Mod 2.6
WScript.Echo "cint:", CInt(2.5), CInt(3.5), CInt(-2.5), CInt(-3.5), CLng(-0.5), CByte(254.5)
WScript.Echo "cstr:", CStr(1/3), CStr(1E+15), CStr(1E+16), CStr(123456789012345678), CStr(1E-05), CStr(0.1 + 0.2)
WScript.Echo "hex:", Hex(-1), Hex(-32769), Hex(2.5), Oct(-8), &HFFFF, &HFFFF&, TypeName(&HFFFF&)
WScript.Echo "imp:", False Imp Null, IsNull(True Imp Null), IsNull(Null Imp False)
WScript.Echo "instr:", InStr("", ""), InStr("abc", ""), InStr(3, "abc", ""), InStr(4, "abcabc", "c"), InStrRev("abc", "c", 10), InStrRev("abcabc", "c", 5)
WScript.Echo "format:", FormatNumber(1.005), FormatNumber(-0.005, 2, 0, -1), FormatNumber(1234567.891, 2, -1, 0, -1), FormatNumber(0.5, 0)
On Error Resume Next
WScript.Echo "bigformat:", FormatNumber(1E+20, 0), FormatNumber(999.995)
WScript.Echo "sgn:", Sgn(-0.1), TypeName(Sgn(2.5))
x = Sgn(Null)
WScript.Echo "sgn null:", Err.Number
Err.Clear
WScript.Echo "trim:", "[" & Trim(vbTab & " a ") & "]"
WScript.Echo "null:", IsNull(Mid(Null, 1)), IsNull(Left(Null, 1)), IsNull(StrComp("a", Null))
WScript.Echo "cdate:", CDate("October 19, 1962"), CDate("1-Mar-2024 10:30 PM")
WScript.Echo "isdate:", IsDate("March 1, 2024"), IsDate("Feb 30, 2024")
WScript.Echo "done"
