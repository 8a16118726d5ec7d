' native-only: String with a character code, which Wine's VBScript lacks.
' The built-in functions.
WScript.Echo Len("hello"), Len(""), Len(12345), Len(Empty), Len(True)
WScript.Echo Left("hello", 2), Left("hi", 5) & "|", "[" & Left("abc", 0) & "]"
WScript.Echo Right("hello", 3), Right("hi", 5) & "|", "[" & Right("abc", 0) & "]"
WScript.Echo Left(12345, 2) & Right(12345, 2), Left(Right("abcdef", 4), 2)
WScript.Echo String(3, "x"), String(2, "yz"), String(4, 65), "[" & String(0, "q") & "]"
WScript.Echo Len(String(1000, "ab")), String(2, 321)
WScript.Echo "[" & Space(3) & "]", "[" & Space(0) & "]"
WScript.Echo CStr(42) & CStr(-7), CStr(True), CStr(False), "[" & CStr(Empty) & "]"
WScript.Echo Len(CStr(2147483648)), Len(CStr(True))
WScript.Echo CInt("12"), CInt(" 7 "), CInt("2.5"), CInt("3.5"), CInt(-32768), CInt(True)
WScript.Echo CLng("100000"), CLng("-2147483648"), CLng(False), CLng("1e3")
WScript.Echo Chr(65) & Chr(97) & Chr(48), Chr(128), Chr(233), Chr(153)
WScript.Echo Len(Chr(0)), "[" & Chr(32) & "]"
WScript.Echo "done"
