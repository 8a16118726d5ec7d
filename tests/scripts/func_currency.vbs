' Currency (whole ten-thousandths, rounded half to even) and Single (7
' significant digits): conversions, printing, arithmetic and result types.
WScript.Echo "ccur:", CCur(1234.56789), CCur(5.9555555555555), CCur(543.214588 * 2), CCur(30)
WScript.Echo "ccur even:", CCur(0.00005), CCur(0.00015), CCur(0.00025), CCur(-0.00025), CCur(2.50005)
WScript.Echo "ccur text:", CCur("1,234.5"), CCur(" 12.34567 "), CCur("-0.00015")
WScript.Echo "types:", TypeName(CCur(1)), VarType(CCur(1)), TypeName(CSng(1)), VarType(CSng(1)), VarType(CCur(1)) = vbCurrency, VarType(CSng(1)) = vbSingle
WScript.Echo "print:", CCur(100), CCur(-0.5), CCur(1.1) * 3, CStr(CCur(0.1) + CCur(0.2)), CCur(1E+14)
WScript.Echo "add:", TypeName(CCur(1) + 1), TypeName(CCur(1) + CLng(1)), TypeName(CCur(1) + 1.5), CCur(1) + 1.5, TypeName(CCur(1) - CCur(2)), CCur(1) - CCur(2.25)
WScript.Echo "mul:", TypeName(CCur(2) * 3), CCur(2.5) * 3, TypeName(CCur(2) * CCur(3)), CCur(0.1) * CCur(0.1), TypeName(CCur(2) * 1.5), TypeName(CCur(2) * CSng(1.5))
WScript.Echo "div:", TypeName(CCur(10) / 4), CCur(10) / 4, TypeName(CCur(7) \ 2), CCur(7) \ 2, TypeName(CCur(7) Mod 2), CCur(7.5) Mod 2
WScript.Echo "negate:", -CCur(3.25), TypeName(-CCur(1)), TypeName(-CSng(1))
WScript.Echo "compare:", CCur(1) = 1, CCur(0.5) < 1, CSng(0.5) = 0.5, CSng(0.1) = 0.1, CCur(2) > CSng(1.5)
WScript.Echo "csng:", CSng(1 / 3), CStr(CSng(1 / 3)), CSng(12345678), CSng(1234567), CSng(0.1), CSng("1.5")
WScript.Echo "single arith:", TypeName(CSng(1) + 1), TypeName(CSng(1) + CSng(2)), TypeName(CSng(1) + CLng(1)), TypeName(CSng(1) * 2.5), TypeName(CSng(1) / 3), CSng(1) / 3
WScript.Echo "rnd timer:", TypeName(Rnd), TypeName(Timer), Rnd >= 0, Rnd < 1
WScript.Echo "abs int fix:", Abs(CCur(-2.5)), TypeName(Abs(CCur(-2.5))), Int(CCur(-2.5)), Fix(CCur(-2.5)), TypeName(Int(CCur(1.5))), TypeName(Fix(CSng(1.5))), Int(CSng(-2.5))
WScript.Echo "round:", Round(CCur(2.5)), Round(CCur(3.5)), Round(CCur(1.23456), 2), Round(CCur(1.2345), 5), TypeName(Round(CCur(1.5))), Round(CSng(2.567), 1), TypeName(Round(CSng(2.5)))
WScript.Echo "to others:", CDbl(CCur(1.5)), TypeName(CDbl(CCur(1.5))), CLng(CCur(2.5)), CLng(CCur(3.5)), CInt(CCur(-2.5)), Sgn(CCur(-1)), Sgn(CSng(0)), CDbl(CSng(0.5))
WScript.Echo "formats:", FormatCurrency(CCur(-1234.56)), FormatNumber(CCur(1234.5678), 2), FormatNumber(CSng(0.5), 1), CCur(1) & "|" & CSng(0.25)
On Error Resume Next
' Texts are read exactly, to the ends of the range and the last place.
WScript.Echo "range ends:", CCur("922337203685477.5807"), CCur("-922337203685477.5808"), CCur("100000000000000.0002") > CCur("100000000000000.0001")
x = CCur("922337203685477.5808")
WScript.Echo "overflow high:", Err.Number
Err.Clear
x = CCur("-922337203685477.5809")
WScript.Echo "overflow low:", Err.Number
Err.Clear
x = CCur("922337203685477.5807") + 1
WScript.Echo "overflow add:", Err.Number
Err.Clear
x = -CCur("-922337203685477.5808")
WScript.Echo "overflow negate:", Err.Number
Err.Clear
x = Int(CCur("-922337203685477.5808"))
WScript.Echo "int range:", Err.Number
Err.Clear
x = CLng(CCur(3000000000))
WScript.Echo "long range:", Err.Number
Err.Clear
x = CSng(1E+39)
WScript.Echo "single range:", Err.Number
Err.Clear
x = CCur("abc")
WScript.Echo "not a number:", Err.Number
WScript.Echo "done"
