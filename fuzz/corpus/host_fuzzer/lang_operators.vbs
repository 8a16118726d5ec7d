' Operators, subtypes and promotion: Integer widens to Long, Long to
' Double; comparisons of texts and numbers; logical operators on numbers.
WScript.Echo "add:", 1 + 2, TypeName(1 + 2), 32767 + 1, TypeName(32767 + 1), TypeName(2147483647 + 1)
WScript.Echo "sub:", 5 - 7, -32768 - 1, TypeName(-32768 - 1), 2.5 - 1
WScript.Echo "mul:", 300 * 300, TypeName(300 * 300), 65536 * 65536, 1.5 * 4
WScript.Echo "div:", 7 / 2, TypeName(4 / 2), 1 / 3, 7 \ 2, -7 \ 2, 5.5 \ 2
WScript.Echo "mod:", 7 Mod 3, -7 Mod 3, 7 Mod -3, 6.5 Mod 4, TypeName(7 Mod 3)
WScript.Echo "pow:", 2 ^ 10, 2 ^ -1, -2 ^ 2, (-2) ^ 2, TypeName(2 ^ 2)
WScript.Echo "text:", "1" + 2, "1" + "2", "a" & 1 & True, 3 & "", TypeName("1" + 2)
WScript.Echo "empty:", Empty + 1, TypeName(Empty + Empty), "[" & Empty & "]", Empty = 0, Empty = ""
WScript.Echo "null:", IsNull(Null + 1), IsNull(Null & Null), "x" & Null & "y", IsNull(Null = 1)
WScript.Echo "bool:", True + True, TypeName(True + True), -True, CInt(False)
WScript.Echo "byte:", TypeName(CByte(5) + CByte(250)), TypeName(CByte(200) + CByte(100))
WScript.Echo "compare:", 1 < 2, 2 <= 2, "a" < "b", "a" < "B", "abc" = "abc", 10 > 9
s = "10"
n = 9
WScript.Echo "mixed:", s > n, n < s, s = 10, CInt(s) = 10, Empty < 1
WScript.Echo "not:", Not True, Not 0, Not 5, TypeName(Not 5)
WScript.Echo "and:", True And False, 12 And 10, True And 3, TypeName(True And False)
WScript.Echo "or:", True Or False, 12 Or 3, 5 Xor 3, True Xor True
WScript.Echo "eqv:", True Eqv True, False Imp True, True Imp False, 5 Eqv 3
WScript.Echo "precedence:", 1 + 2 * 3, (1 + 2) * 3, 2 * 3 ^ 2, 10 - 2 - 3, 1 + 2 & 3, Not 1 = 2
WScript.Echo "neg:", -(-32768), TypeName(-(-32768)), - - 3, -"2.5"
Set a = CreateObject("Scripting.Dictionary")
Set b = a
Set c = CreateObject("Scripting.Dictionary")
WScript.Echo "is:", a Is b, a Is c, a Is Nothing, Nothing Is Nothing
WScript.Echo "literals:", &HFF, &H10 + 1, &HFFFF, 1.5E3, .5, 123456789012
WScript.Echo "done"
