' Conversions, numeric functions and tests.
WScript.Echo "cstr:", CStr(1.5), CStr(-0.25), CStr(1E+20), CStr(1 / 3), CStr(True), CStr(100000)
WScript.Echo "cint:", CInt("12"), CInt(2.5), CInt(3.5), CInt(-2.5), CInt(True), TypeName(CInt(1))
WScript.Echo "clng:", CLng("100000"), CLng(1.5), TypeName(CLng(1))
WScript.Echo "cdbl:", CDbl("2.5"), CDbl(" 1e3 "), TypeName(CDbl(1)), CDbl(0.1) + CDbl(0.2)
WScript.Echo "cbool:", CBool(1), CBool(0), CBool("True"), CBool("false"), CBool(-3)
WScript.Echo "cbyte:", CByte(255), CByte(1.5), TypeName(CByte(1))
WScript.Echo "int fix:", Int(2.7), Int(-2.7), Fix(2.7), Fix(-2.7), Int(5), TypeName(Int(2.5))
WScript.Echo "abs sgn:", Abs(-5), Abs(2.5), Abs(-32768), Sgn(-3), Sgn(0), Sgn(0.1)
WScript.Echo "round:", Round(2.4), Round(2.6), Round(-2.6), Round(3.14159, 2), TypeName(Round(2.5))
WScript.Echo "round even:", Round(2.5), Round(3.5), Round(0.5), Round(-2.5), Round(2.675, 1)
WScript.Echo "sqr:", Sqr(16), Sqr(2), Exp(0), Log(1)
WScript.Echo "isnumeric:", IsNumeric(1), IsNumeric("12.5"), IsNumeric("abc"), IsNumeric(""), IsNumeric(Empty), IsNumeric(" 3 ")
WScript.Echo "tests:", IsEmpty(Empty), IsEmpty(""), IsNull(Null), IsArray(Array()), IsObject(Nothing), IsObject(1)
WScript.Echo "typename:", TypeName(1), TypeName(100000), TypeName(1.5), TypeName("s"), TypeName(True), TypeName(Empty), TypeName(Null)
WScript.Echo "vartype:", VarType(1), VarType(100000), VarType(1.5), VarType("s"), VarType(True), VarType(Empty), VarType(Null), VarType(Array(1))
WScript.Echo "formatnumber:", FormatNumber(1234567.891), FormatNumber(0.5, 0), FormatNumber(1234.5, 1), FormatNumber(-1234.567, 2), FormatNumber(0.25)
WScript.Echo "formatnumber options:", FormatNumber(0.25, 2, 0), FormatNumber(-5, 1, -1, -1), FormatNumber(1234.5, 2, -1, 0, 0)
On Error Resume Next
x = CInt("12abc")
WScript.Echo "bad text:", Err.Number
Err.Clear
x = CByte(256)
WScript.Echo "byte range:", Err.Number
Err.Clear
x = Sqr(-1)
WScript.Echo "sqr negative:", Err.Number
WScript.Echo "done"
