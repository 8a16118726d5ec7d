' Text functions.
s = "Hello, World"
WScript.Echo "len:", Len(s), Len(""), Len(123), IsNull(Len(Null))
WScript.Echo "left right:", Left(s, 5), Right(s, 5), "[" & Left(s, 0) & "]", Left("ab", 9)
WScript.Echo "mid:", Mid(s, 8), Mid(s, 8, 3), "[" & Mid(s, 50) & "]", Mid(s, 1, 1)
WScript.Echo "instr:", InStr(s, "o"), InStr(6, s, "o"), InStr(s, "z"), InStr(s, ""), InStr(1, s, "WORLD", 1)
WScript.Echo "instrrev:", InStrRev(s, "o"), InStrRev(s, "o", 8), InStrRev(s, "z"), InStrRev("abcabc", "bc")
WScript.Echo "replace:", Replace(s, "l", "L"), Replace(s, "l", "L", 1, 2), Replace("aAa", "a", "x", 1, -1, 1), Replace(s, "o", "0", 6)
WScript.Echo "split:", UBound(Split("a,b,,c", ",")), UBound(Split("a b c")), UBound(Split("")), UBound(Split("a,b,c", ",", 2))
parts = Split("a,b,c", ",", 2)
WScript.Echo "split limit:", parts(1)
WScript.Echo "trim:", "[" & Trim("  x y  ") & "]", "[" & LTrim("  x ") & "]", "[" & RTrim(" x  ") & "]"
WScript.Echo "case:", UCase("abc") & Asc(UCase(Chr(233))), LCase("ABC") & Asc(LCase(Chr(201)))
WScript.Echo "space string:", "[" & Space(3) & "]", String(3, "ab"), String(2, "-")
WScript.Echo "strcomp:", StrComp("a", "b"), StrComp("b", "a"), StrComp("a", "a"), StrComp("a", "A"), StrComp("a", "A", 1)
WScript.Echo "reverse:", StrReverse("abc"), "[" & StrReverse("") & "]"
WScript.Echo "asc chr:", Asc("A"), Asc("abc"), Chr(65), Chr(97) & Chr(98), Asc(Chr(233))
WScript.Echo "hex oct:", Hex(255), Hex(-1), Hex(65536), Oct(8), Oct(-1), Hex(0)
WScript.Echo "done"
