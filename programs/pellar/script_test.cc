#include <stdlib.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include "builtins.h"
#include "gtest/gtest.h"
#include "interpreter.h"
#include "parser.h"
#include "regexp.h"

namespace pellar {
namespace {

struct Outcome {
  int code;
  std::string out;
  std::string err;
};

Outcome RunText(const std::string& script) {
  std::ostringstream out;
  std::ostringstream err;
  int code = RunScript(script, "t.vbs", out, err);
  return {code, out.str(), err.str()};
}

struct SyntaxCase {
  const char* script;
  int line;
  int column;
  const char* message;
};

class SyntaxErrorTest : public testing::TestWithParam<SyntaxCase> {};

TEST_P(SyntaxErrorTest, ReportsPositionAndMessage) {
  const SyntaxCase& c = GetParam();
  ParseResult result = Parse(FromUtf8(c.script));
  ASSERT_TRUE(result.error.has_value()) << c.script;
  EXPECT_EQ(result.error->line(), c.line) << c.script;
  EXPECT_EQ(result.error->column(), c.column) << c.script;
  EXPECT_STREQ(result.error->what(), c.message) << c.script;
}

INSTANTIATE_TEST_SUITE_P(
    Parser, SyntaxErrorTest,
    testing::Values(
        SyntaxCase{"x = \"abc", 1, 5, "Unterminated string constant"},
        SyntaxCase{"x = 1\ny = \"a\"\"", 2, 5, "Unterminated string constant"},
        SyntaxCase{"a = 1\r\n\r\nb = 2 +", 3, 8, "Expected expression"},
        SyntaxCase{"a = 1\rb = $", 2, 5, "Invalid character"},
        SyntaxCase{"x = ", 1, 5, "Expected expression"},
        SyntaxCase{"  c.Pad(s, 5)", 1, 8,
                   "Cannot use parentheses when calling a Sub"},
        SyntaxCase{"WScript.Echo(\"a\", \"b\")", 1, 13,
                   "Cannot use parentheses when calling a Sub"},
        SyntaxCase{"Call c.Pad (s), 5", 1, 15, "Expected end of statement"},
        SyntaxCase{"x = y z", 1, 7, "Expected end of statement"},
        SyntaxCase{"x = (1", 1, 7, "Expected ')'"},
        SyntaxCase{"If x Then\n  y = 1\n", 3, 1, "Expected 'End If'"},
        SyntaxCase{"For i = 1 To 2\nx = i\nLoop", 3, 1, "Expected 'Next'"},
        SyntaxCase{"Do\nx = 1\nNext", 3, 1, "Expected 'Loop'"},
        SyntaxCase{"Select Case x\nCase 1\nEnd If", 3, 5,
                   "Expected 'End Select'"},
        SyntaxCase{"Sub A\nSub B\nEnd Sub", 2, 1, "Expected statement"},
        SyntaxCase{"Function A\nEnd Function\nSub a\nEnd Sub", 3, 5,
                   "Name redefined"},
        SyntaxCase{"Exit For", 1, 1, "Invalid 'exit' statement"},
        SyntaxCase{"Sub S\nExit Function\nEnd Sub", 2, 1,
                   "Invalid 'exit' statement"},
        SyntaxCase{"x = Len(\"a\", 1)", 1, 5,
                   "Wrong number of arguments: 'Len'"},
        SyntaxCase{"x = Len", 1, 5, "Wrong number of arguments: 'Len'"},
        SyntaxCase{"Const A = 1\nConst a = 2", 2, 7, "Name redefined"},
        SyntaxCase{"Dim b\nConst B = 1", 2, 7, "Name redefined"},
        SyntaxCase{"Const c = 1\nDim C", 2, 5, "Name redefined"},
        SyntaxCase{"Sub S(p)\nConst P = 1\nEnd Sub", 2, 7, "Name redefined"},
        SyntaxCase{"Class C\nDim x\n", 3, 1, "Expected 'End Class'"},
        SyntaxCase{"Class C\nClass D\nEnd Class\nEnd Class", 2, 1,
                   "Expected 'End Class'"},
        SyntaxCase{"Sub S\nClass C\nEnd Class\nEnd Sub", 2, 1,
                   "Expected statement"},
        SyntaxCase{"Class C\nx = 1\nEnd Class", 2, 1, "Expected 'End Class'"},
        SyntaxCase{"Class C\nProperty Let P\nEnd Property\nEnd Class", 2, 14,
                   "Property set or let must have at least one argument"},
        SyntaxCase{"Class C\nProperty Get P\nEnd Sub\nEnd Class", 3, 5,
                   "Expected 'End Property'"},
        SyntaxCase{"Class C\nProperty P\nEnd Property\nEnd Class", 2, 10,
                   "Expected 'Get', 'Let' or 'Set'"},
        SyntaxCase{"Class C\nSub Class_Initialize(a)\nEnd Sub\nEnd Class", 2, 5,
                   "Class initialize or terminate do not have arguments"},
        SyntaxCase{"Class C\nFunction Class_Terminate\nEnd Function\n"
                   "End Class",
                   2, 10, "Expected 'Sub'"},
        SyntaxCase{"Class C\nPublic Default Sub S\nEnd Sub\nEnd Class", 2, 16,
                   "Expected 'Function' or 'Property Get'"},
        SyntaxCase{"Class C\nPublic Default Function A\nEnd Function\n"
                   "Public Default Function B\nEnd Function\nEnd Class",
                   4, 25,
                   "Cannot have multiple default property/method in a Class"},
        SyntaxCase{"Class C\nDim a\nSub A\nEnd Sub\nEnd Class", 3, 5,
                   "Name redefined"},
        SyntaxCase{"Class C\nProperty Get P\nEnd Property\n"
                   "Property Get p\nEnd Property\nEnd Class",
                   4, 14, "Name redefined"},
        SyntaxCase{"Class C\nPrivate a(n)\nEnd Class", 2, 11,
                   "Expected integer constant"},
        SyntaxCase{"Class C\nEnd Class\nSub c\nEnd Sub", 3, 5,
                   "Name redefined"},
        SyntaxCase{"Class C\nSub S\nExit Property\nEnd Sub\nEnd Class", 3, 1,
                   "Invalid 'exit' statement"},
        SyntaxCase{"x = Me", 1, 5, "Invalid use of 'Me' keyword"},
        SyntaxCase{"x = .a", 1, 5, "Invalid or unqualified reference"},
        SyntaxCase{"With x\n.a = 1\n", 3, 1, "Expected 'End With'"},
        SyntaxCase{"With x\n. = 1\nEnd With", 2, 3, "Expected identifier"},
        SyntaxCase{"Const Pi = 3\nSub S\n  PI = 4\nEnd Sub", 3, 3,
                   "Illegal assignment: 'PI'"},
        SyntaxCase{"Dim a, If", 1, 8, "Expected identifier"},
        SyntaxCase{"True = 1", 1, 1, "Expected statement"},
        SyntaxCase{"Set = 5", 1, 5, "Expected identifier"},
        SyntaxCase{"On Error GoTo 1", 1, 15,
                   "Only 'On Error GoTo 0' is supported"},
        SyntaxCase{"On Error Resume", 1, 16, "Expected 'Next'"},
        SyntaxCase{"x = #13/45/2024#", 1, 5, "Syntax error"},
        SyntaxCase{"x = #0032-01-01#", 1, 5, "Syntax error"},  // year 32
        SyntaxCase{"x = 1000000000000000000000000000000000000000000000000000"
                   "0000000000000000000000000000000000000000000000000000000"
                   "0000000000000000000000000000000000000000000000000000000"
                   "0000000000000000000000000000000000000000000000000000000"
                   "0000000000000000000000000000000000000000000000000000000"
                   "0000000000000000000000000000000000000000000000000000000",
                   1, 5, "Overflow"}));

TEST(ParserTest, AcceptsCommentsDeclarationsAndLineEnds) {
  for (const char* script : {
           "x = 1 ' done",
           "Rem a comment with \"an unclosed string",
           "  REM\tindented",
           "Option Explicit\r\nDim a, B\r\n\r\n",
           "WScript.Echo",
           "x = 1 : y = 2 _\n  + 3",
           "If a Then b = 1 Else b = 2",
           "c.Method",
           "c.Method ()",
           "Call c.Method",
           "Call c.Method()",
           "Err.Clear()",
           "Dim Second, Month\nyear2 = second & Month",
           "x = \"it's\" ' a quote inside a string is not a comment",
       }) {
    ParseResult result = Parse(FromUtf8(script));
    EXPECT_FALSE(result.error.has_value())
        << script << ": " << (result.error ? result.error->what() : "");
  }
}

TEST(ParserTest, VariablesAreCaseInsensitive) {
  ParseResult result = Parse(u"Abc = 1\nABC = abc\nabC = 2");
  ASSERT_FALSE(result.error.has_value());
  ASSERT_EQ(result.program.globals.size(), 1u);
  EXPECT_EQ(result.program.globals[0], u"Abc");
}

std::string Nested(int depth, const std::string& open,
                   const std::string& inner) {
  std::string text;
  for (int i = 0; i < depth; ++i) text += open;
  text += inner;
  for (int i = 0; i < depth; ++i) text += ")";
  return text;
}

TEST(ParserTest, NestingUpToTheLimitParses) {
  EXPECT_FALSE(Parse(FromUtf8("x = " + Nested(kMaxNesting, "(", "1"))).error);
  EXPECT_FALSE(
      Parse(FromUtf8("x = " + Nested(kMaxNesting, "Len(", "1"))).error);
}

TEST(ParserTest, NestingBeyondTheLimitIsASyntaxError) {
  for (const std::string open : {"(", "Len(", "c.M("}) {
    std::string script = "x = " + Nested(kMaxNesting + 1, open, "1");
    ParseResult result = Parse(FromUtf8(script));
    ASSERT_TRUE(result.error.has_value()) << open;
    EXPECT_STREQ(result.error->what(), "Expression nested too deeply");
    // The column of the first parenthesis past the limit.
    size_t at = 4 + open.size() * kMaxNesting + open.size() - 1;
    EXPECT_EQ(result.error->column(), static_cast<int>(at) + 1) << open;
  }
}

TEST(ParserTest, OneLineIfsNestLikeBlocks) {
  for (const std::string open : {"If 1 Then ", "If 0 Then x = 1 Else "}) {
    std::string within, beyond;
    for (int i = 0; i < kMaxNesting; ++i) within += open;
    for (int i = 0; i < 30000; ++i) beyond += open;
    EXPECT_FALSE(Parse(FromUtf8(within + "x = 2")).error) << open;
    ParseResult result = Parse(FromUtf8(beyond + "x = 2"));
    ASSERT_TRUE(result.error.has_value()) << open;
    EXPECT_STREQ(result.error->what(), "Expression nested too deeply");
    EXPECT_EQ(result.error->column(),
              static_cast<int>(open.size()) * kMaxNesting + 1);
  }
}

TEST(ParserTest, HugeInputsFailCleanly) {
  std::string parens = "x = " + std::string(200000, '(');
  EXPECT_TRUE(Parse(FromUtf8(parens)).error.has_value());
  // Long flat chains are not nesting and run without deep recursion.
  std::string minuses = "WScript.Echo " + std::string(200001, '-') + "7";
  Outcome negated = RunText(minuses);
  EXPECT_EQ(negated.code, 0) << negated.err;
  EXPECT_EQ(negated.out, "-7\n");
  std::string chain = "x = \"a\"";
  for (int i = 0; i < 100000; ++i) chain += " & \"a\"";
  Outcome joined = RunText(chain + "\nWScript.Echo Len(x)");
  EXPECT_EQ(joined.out, "100001\n");
}

// How each way of writing an argument reaches Pad's ref parameter.
struct PassingCase {
  const char* call;
  const char* expected_s;
};

class ArgumentPassingTest : public testing::TestWithParam<PassingCase> {};

TEST_P(ArgumentPassingTest, BareVariablesPassByReference) {
  const PassingCase& c = GetParam();
  Outcome outcome = RunText(std::string() +
                            "Set c = CreateObject(\"PellarLib.Cell\")\n"
                            "s = \"ab\"\n" +
                            c.call +
                            "\n"
                            "WScript.Echo \"[\" & s & \"]\"\n");
  EXPECT_EQ(outcome.code, 0) << c.call << ": " << outcome.err;
  EXPECT_EQ(outcome.out, std::string("[") + c.expected_s + "]\n") << c.call;
}

INSTANTIATE_TEST_SUITE_P(
    Interpreter, ArgumentPassingTest,
    testing::Values(
        PassingCase{"c.Pad s, 5", "ab   "}, PassingCase{"C.PAD S, 5", "ab   "},
        PassingCase{"Call c.Pad(s, 5)", "ab   "},
        PassingCase{"x = c.Pad(s, 5)", "ab   "},
        PassingCase{"c.Pad (s), 5", "ab"},
        PassingCase{"Call c.Pad((s), 5)", "ab"},
        PassingCase{"x = c.Pad((s), 5)", "ab"},
        PassingCase{"x = c.Pad(s & \"\", 5)", "ab"},
        // Cutting shortens only the answer, never the caller's text.
        PassingCase{"c.Pad s, 1", "ab"}));

TEST(InterpreterTest, AssignmentFromPadLeavesResultAndRefAlike) {
  Outcome outcome = RunText(
      "Set c = CreateObject(\"PellarLib.Cell\")\n"
      "s = \"ab\"\n"
      "x = c.Pad(s, 4)\n"
      "WScript.Echo \"[\" & x & \"][\" & s & \"]\"\n");
  EXPECT_EQ(outcome.out, "[ab  ][ab  ]\n");
}

struct FailureCase {
  const char* script;
  const char* err;
};

class FatalErrorTest : public testing::TestWithParam<FailureCase> {};

TEST_P(FatalErrorTest, StopsWithOneLineAndExitCodeOne) {
  const FailureCase& c = GetParam();
  Outcome outcome = RunText(c.script);
  EXPECT_EQ(outcome.code, kExitRuntimeError) << c.script;
  EXPECT_EQ(outcome.err, c.err) << c.script;
  EXPECT_EQ(outcome.out, "before\n") << c.script;
}

INSTANTIATE_TEST_SUITE_P(
    Interpreter, FatalErrorTest,
    testing::Values(
        FailureCase{"WScript.Echo \"before\"\n  x.Pad 1, 2\nWScript.Echo 1",
                    "t.vbs(2, 3) runtime error: Object required\n"},
        // The calls a failure leaves, innermost first; a loop around a call
        // is not a call of its own.
        FailureCase{"WScript.Echo \"before\"\nSub A\n  x = 1 / 0\nEnd Sub\n"
                    "Sub B\n  For i = 1 To 1\n    A\n  Next\nEnd Sub\nB",
                    "t.vbs(3, 3) runtime error: Division by zero\n"
                    "    called from t.vbs(7, 5)\n"
                    "    called from t.vbs(10, 1)\n"},
        FailureCase{
            "Function F(n)\n  If n = 0 Then F = 1 / n Else F = F(n - 1)\n"
            "End Function\nWScript.Echo \"before\"\nx = F(15)",
            "t.vbs(2, 17) runtime error: Division by zero\n"
            "    called from t.vbs(2, 32)\n    called from t.vbs(2, 32)\n"
            "    called from t.vbs(2, 32)\n    called from t.vbs(2, 32)\n"
            "    called from t.vbs(2, 32)\n    called from t.vbs(2, 32)\n"
            "    called from t.vbs(2, 32)\n    called from t.vbs(2, 32)\n"
            "    called from t.vbs(2, 32)\n    called from t.vbs(2, 32)\n"
            "    and 6 more calls\n"},
        FailureCase{
            "WScript.Echo \"before\"\n"
            "Set d = CreateObject(\"Scripting.Dictionary\")\nd.NoSuch 1",
            "t.vbs(3, 1) runtime error: Object doesn't support this "
            "property or method: 'nosuch'\n"},
        FailureCase{"WScript.Echo \"before\"\nx = 5\nWScript.Echo x.Pad(1, 2)",
                    "t.vbs(3, 1) runtime error: Object required\n"},
        FailureCase{"WScript.Echo \"before\"\n"
                    "Set c = CreateObject(\"PellarLib.Cell\")\n"
                    "Set d = CreateObject(\"PellarLib.Cell\")\n"
                    "c.Pad d, 1",
                    "t.vbs(4, 1) runtime error: Type mismatch\n"},
        FailureCase{"WScript.Echo \"before\"\n"
                    "Set c = CreateObject(\"PellarLib.Cell\")\n"
                    "WScript.Echo c",
                    "t.vbs(3, 1) runtime error: Type mismatch\n"},
        FailureCase{"WScript.Echo \"before\"\nx = CInt(\"abc\")",
                    "t.vbs(2, 1) runtime error: Type mismatch\n"},
        FailureCase{"WScript.Echo \"before\"\nx = CInt(40000)",
                    "t.vbs(2, 1) runtime error: Overflow\n"},
        FailureCase{"WScript.Echo \"before\"\nx = Chr(256)",
                    "t.vbs(2, 1) runtime error: Invalid procedure call or "
                    "argument\n"},
        FailureCase{"WScript.Echo \"before\"\nx = Space(-1)",
                    "t.vbs(2, 1) runtime error: Invalid procedure call or "
                    "argument\n"},
        FailureCase{"WScript.Echo \"before\"\nx = String(100000000, \"a\")",
                    "t.vbs(2, 1) runtime error: Out of memory\n"},
        FailureCase{"WScript.Echo \"before\"\n"
                    "Set c = CreateObject(\"PellarLib.Nope\")",
                    "t.vbs(2, 1) PellarLib: ActiveX component can't create "
                    "object\n"},
        FailureCase{"WScript.Echo \"before\"\n"
                    "Set c = CreateObject(\"PellarLib.Cell\")\n"
                    "Set c = Nothing\n"
                    "c.Pad s, 1",
                    "t.vbs(4, 1) runtime error: Object required\n"},
        // Classes: private members answer only the class's own code, an
        // object without a default member has no value, and a Terminate
        // does not run once a failure has ended the script.
        FailureCase{"Class C\nPrivate p\nSub S\np = 1\nEnd Sub\nEnd Class\n"
                    "Set c = New C\nc.S\nWScript.Echo \"before\"\nc.p = 2",
                    "t.vbs(10, 1) runtime error: Object doesn't support this "
                    "property or method: 'p'\n"},
        FailureCase{"Class C\nPrivate Function F\nEnd Function\nEnd Class\n"
                    "Set c = New C\nWScript.Echo \"before\"\nx = c.F()",
                    "t.vbs(7, 1) runtime error: Object doesn't support this "
                    "property or method: 'f'\n"},
        FailureCase{
            "Class C\nSub Class_Terminate\nWScript.Echo \"end\"\n"
            "End Sub\nEnd Class\nSet c = New C\nWScript.Echo \"before\"\n"
            "x = c",
            "t.vbs(8, 1) runtime error: Object doesn't support this "
            "property or method\n"},
        FailureCase{"Class C\nProperty Get P\nEnd Property\nEnd Class\n"
                    "Set c = New C\nWScript.Echo \"before\"\nc.P = 1",
                    "t.vbs(7, 1) runtime error: Object doesn't support this "
                    "property or method: 'p'\n"},
        FailureCase{"Class C\nSub M(a)\nEnd Sub\nEnd Class\n"
                    "Set c = New C\nWScript.Echo \"before\"\nc.M",
                    "t.vbs(7, 1) runtime error: Wrong number of arguments or "
                    "invalid property assignment\n"},
        FailureCase{"WScript.Echo \"before\"\nSet c = New Missing",
                    "t.vbs(2, 1) runtime error: Class not defined\n"},
        // Executed texts have no place in the file: the statement that ran
        // the text, or called its procedure, stands for them.
        FailureCase{"WScript.Echo \"before\"\n"
                    "Execute \"x = 1\" & vbLf & \"y = 1 / 0\"",
                    "t.vbs(2, 1) runtime error: Division by zero\n"},
        FailureCase{"WScript.Echo \"before\"\n"
                    "ExecuteGlobal \"Sub S\" & vbLf & \"x = 1 / 0\" & vbLf & "
                    "\"End Sub\"\n"
                    "  S",
                    "t.vbs(3, 3) runtime error: Division by zero\n"}));

// Unary minus widens rather than overflowing, as VBScript does.
struct EchoCase {
  const char* expression;
  const char* printed;
};

class EchoTest : public testing::TestWithParam<EchoCase> {};

TEST_P(EchoTest, PrintsValue) {
  const EchoCase& c = GetParam();
  Outcome outcome = RunText(std::string("WScript.Echo ") + c.expression);
  EXPECT_EQ(outcome.code, 0) << c.expression << ": " << outcome.err;
  EXPECT_EQ(outcome.out, std::string(c.printed) + "\n") << c.expression;
}

INSTANTIATE_TEST_SUITE_P(
    Interpreter, EchoTest,
    testing::Values(
        EchoCase{"-CInt(-32768)", "32768"},
        EchoCase{"-CLng(\"-2147483648\")", "2147483648"},
        EchoCase{"-(-2147483647)", "2147483647"},
        EchoCase{"2147483648", "2147483648"}, EchoCase{"-True", "1"},
        EchoCase{"-Empty", "0"}, EchoCase{"-\" 2.5 \"", "-2.5"},
        EchoCase{"--\"1e3\"", "1000"},
        EchoCase{"ChrW(65) & ChrW(-1)", "A\xEF\xBF\xBF"},
        EchoCase{"String(3, 321)", "AAA"}, EchoCase{"String(2, \"xy\")", "xx"},
        EchoCase{"Left(\"abc\", 9) & Right(\"abc\", 2)", "abcbc"},
        EchoCase{"Len(12345) & Len(Empty)", "50"},
        // Promotion: Integer -> Long -> Double, never an overflow.
        EchoCase{"TypeName(32767 + 1) & TypeName(-32768 - 1)", "LongLong"},
        EchoCase{"TypeName(2147483647 + 1), 2147483647 + 1",
                 "Double 2147483648"},
        EchoCase{"TypeName(CInt(200) * CInt(200))", "Long"},
        EchoCase{"TypeName(CByte(255) + CByte(1))", "Integer"},
        EchoCase{"TypeName(True + True), True + True", "Integer -2"},
        EchoCase{"TypeName(5 \\ 2) & TypeName(100000 \\ 2)", "IntegerLong"},
        EchoCase{"TypeName(\"2\" * 2), \"2\" + \"2\", \"2\" + 2",
                 "Double 22 4"},
        // Comparisons: numbers before texts, Empty as 0 or "".
        EchoCase{"\"10\" > 9, 9 < \"1\", \"10\" = 10", "-1 -1 0"},
        EchoCase{"Empty = 0, Empty = \"\", Empty < -1", "-1 -1 0"},
        EchoCase{"\"B\" < \"a\", \"abc\" < \"abd\", \"ab\" < \"abc\"",
                 "-1 -1 -1"},
        EchoCase{"IsNull(Null = Null), IsNull(1 < Null)", "-1 -1"},
        EchoCase{"1.5 = 3 / 2, CLng(3) = 3.0, True = -1", "-1 -1 -1"},
        // Logical operators are bitwise on numbers.
        EchoCase{"6 And 3, 6 Or 3, 6 Xor 3, Not 0, Not True", "2 7 5 -1 0"},
        EchoCase{"TypeName(6 And 3) & TypeName(True And True)",
                 "IntegerBoolean"},
        EchoCase{"Null And False, IsNull(Null And True), Null Or True",
                 "0 -1 -1"},
        EchoCase{"False Imp Null, Null Imp True, IsNull(Null Imp False)",
                 "-1 -1 -1"},
        // A trailing & makes a hexadecimal literal a Long.
        EchoCase{"&HFFFF, &HFFFF&, TypeName(&H8000&)", "-1 65535 Long"},
        EchoCase{"CLng(\"&O17\"), CInt(\"&o177777\"), IsNumeric(\"&O8\")",
                 "15 -1 0"},
        // Searches: an empty text holds nothing; a start past the end
        // finds nothing.
        EchoCase{"InStr(\"\", \"\"), InStr(\"abc\", \"\"), InStrRev(\"abc\", "
                 "\"c\", 10), InStrRev(\"abcabc\", \"c\", 5)",
                 "0 1 0 3"},
        // FormatNumber rounds the shown digits half away from zero.
        EchoCase{"FormatNumber(1E+20, 0), FormatNumber(1.005), "
                 "FormatNumber(-0.004), FormatNumber(999.995)",
                 "100,000,000,000,000,000,000 1.01 0.00 1,000.00"},
        EchoCase{"FormatNumber(0.5, 0), FormatNumber(-0.005, 2, 0, -1), "
                 "FormatNumber(1234.5, 1, -1, 0, 0)",
                 "1 (.01) 1234.5"},
        // Arguments left out between commas take their defaults.
        EchoCase{"FormatNumber(1234.5, 1, , , 0), FormatNumber(0.5, , 0), "
                 "FormatNumber(-3, , , -1)",
                 "1234.5 .50 (3.00)"},
        EchoCase{"Replace(\"aAaA\", \"a\", \"x\", , , 1), Replace(\"aaaa\", "
                 "\"a\", \"b\", , 2), Join(Split(\"a b c\", , 2), \"|\"), "
                 "InStrRev(\"abab\", \"b\", , 0), Mid(\"abc\", 2, )",
                 "xxxx bbaa a|b c 4 bc"},
        // Dates with English month names, as the CDate reference shows.
        EchoCase{"CDate(\"October 19, 1962\"), CDate(\"1-Mar-2024 10:30 PM\"), "
                 "IsDate(\"Feb 30, 2024\"), IsDate(\"Marc 1, 2024\")",
                 "10/19/1962 3/1/2024 10:30:00 PM 0 0"}));

// Expressions that fail, by the error number they raise.
struct ErrorCase {
  const char* expression;
  int number;
};

class ErrorNumberTest : public testing::TestWithParam<ErrorCase> {};

TEST_P(ErrorNumberTest, Raises) {
  const ErrorCase& c = GetParam();
  Outcome outcome = RunText(std::string("On Error Resume Next\nx = ") +
                            c.expression + "\nWScript.Echo Err.Number");
  EXPECT_EQ(outcome.out, std::to_string(c.number) + "\n") << c.expression;
}

INSTANTIATE_TEST_SUITE_P(
    Interpreter, ErrorNumberTest,
    testing::Values(
        // \ and Mod round their operands to Long, half to even, first.
        ErrorCase{"2147483647.5 \\ 1", 6}, ErrorCase{"-2147483648.5 \\ 1", 0},
        ErrorCase{"2147483648 Mod 3", 6}, ErrorCase{"5 Mod 0.4", 11},
        ErrorCase{"Sgn(Null)", 94}, ErrorCase{"Replace(Null, \"a\", \"b\")", 94},
        ErrorCase{"Replace(\"a\", Null, \"b\")", 94},
        ErrorCase{"(-8) ^ (1 / 3)", 5}, ErrorCase{"1E+308 * 10", 6},
        ErrorCase{"CInt(-32768.5)", 0}, ErrorCase{"CInt(32767.5)", 6},
        ErrorCase{"CDbl(\"1E+400\")", 6}, ErrorCase{"\"1E+400\" + 0", 6},
        ErrorCase{"CDbl(\"1E-400\")", 0}, ErrorCase{"CDbl(\"1E4x\")", 13}));

// Err.Raise with a number alone takes the text the host raises it with.
TEST(InterpreterTest, RaisedNumbersTakeTheHostsTexts) {
  const struct {
    int number;
    const char* text;
  } cases[] = {{11, "Division by zero"},
               {35, "Sub or Function not defined"},
               {451, "Object not a collection"},
               {501, "Illegal assignment"},
               {32811, "Element not found"}};
  for (const auto& c : cases) {
    Outcome outcome = RunText("On Error Resume Next\nErr.Raise " +
                              std::to_string(c.number) +
                              "\nWScript.Echo Err.Description");
    EXPECT_EQ(outcome.out, std::string(c.text) + "\n") << c.number;
  }
}

// Whole scripts for the rules that take more than an expression.
struct ScriptCase {
  const char* script;
  const char* printed;
};

class ScriptTest : public testing::TestWithParam<ScriptCase> {};

TEST_P(ScriptTest, Prints) {
  const ScriptCase& c = GetParam();
  Outcome outcome = RunText(c.script);
  EXPECT_EQ(outcome.code, 0) << c.script << ": " << outcome.err;
  EXPECT_EQ(outcome.out, c.printed) << c.script;
}

INSTANTIATE_TEST_SUITE_P(
    Interpreter, ScriptTest,
    testing::Values(
        // An array element goes by reference; a property, a default-member
        // call and an expression go by value.
        ScriptCase{
            "Sub Inc(x)\nx = x + 1\nEnd Sub\n"
            "Dim a(1, 1)\na(1, 0) = 5\nInc a(1, 0)\n"
            "Set d = CreateObject(\"Scripting.Dictionary\")\nd(\"k\") = 5\n"
            "Inc d(\"k\")\nInc d.Item(\"k\")\nInc (a(1, 0))\n"
            "WScript.Echo a(1, 0), d(\"k\")",
            "6 5\n"},
        // By reference through two procedures, and ByVal copies arrays.
        ScriptCase{
            "Sub Outer(x)\nInner x\nEnd Sub\nSub Inner(y)\ny = y & \"!\"\nEnd "
            "Sub\n"
            "Sub Change(ByVal arr)\narr(0) = 9\nEnd Sub\n"
            "s = \"a\"\nOuter s\nb = Array(1)\nChange b\nWScript.Echo s, b(0)",
            "a! 1\n"},
        // An element passed by reference locks its array against ReDim.
        ScriptCase{"Dim a()\nReDim a(2)\nSub Grow(x)\nOn Error Resume Next\n"
                   "ReDim a(5)\nWScript.Echo Err.Number\nx = 1\nEnd Sub\n"
                   "Grow a(1)\nWScript.Echo UBound(a), a(1)",
                   "10\n2 1\n"},
        // Exit leaves only the innermost loop of its kind.
        ScriptCase{
            "For i = 1 To 3\nDo\nFor j = 1 To 3\nIf j = 2 Then Exit For\n"
            "n = n + 1\nNext\nExit Do\nLoop\nIf i = 2 Then Exit For\nNext\n"
            "WScript.Echo i, j, n",
            "2 2 2\n"},
        ScriptCase{
            "Function F()\nDo\nFor i = 1 To 5\nIf i = 3 Then Exit Function\n"
            "F = i\nNext\nLoop\nEnd Function\nWScript.Echo F()",
            "2\n"},
        // On Error belongs to its procedure: a failure in a callee without
        // it returns to the nearest caller that traps, which goes on with
        // its next statement.
        ScriptCase{"Sub Inner\nx = 1 / 0\nWScript.Echo \"not here\"\nEnd Sub\n"
                   "Sub Middle\nInner\nWScript.Echo \"nor here\"\nEnd Sub\n"
                   "Sub Outer\nOn Error Resume Next\nMiddle\nWScript.Echo "
                   "\"outer\", Err.Number\n"
                   "End Sub\nOuter\nWScript.Echo \"after\", Err.Number",
                   "outer 11\nafter 11\n"},
        ScriptCase{"On Error Resume Next\nErr.Raise 1000, , \"custom\"\n"
                   "WScript.Echo Err.Number, Err.Description\n"
                   "Sub S(a, b)\nWScript.Echo IsEmpty(a), b\nEnd Sub\nS , 2",
                   "1000 custom\n-1 2\n"},
        // A failing If condition under Resume Next enters the Then block.
        ScriptCase{
            "On Error Resume Next\nIf 1 / 0 = 1 Then\nWScript.Echo \"then\""
            "\nElse\nWScript.Echo \"else\"\nEnd If\nIf CInt(\"z\") Then x = 1 "
            "Else x = 2\nWScript.Echo x, Err.Number",
            "then\n1 13\n"},
        ScriptCase{"Sub Traps\nOn Error Resume Next\nx = CInt(\"z\")\nEnd Sub\n"
                   "Traps\nWScript.Echo \"trapped\"",
                   "trapped\n"},
        // A procedure's own On Error ends with it.
        ScriptCase{
            "Sub Traps\nOn Error Resume Next\nEnd Sub\nOn Error Resume Next\n"
            "On Error GoTo 0\nTraps\nx = 1\nWScript.Echo \"ok\"",
            "ok\n"},
        // Names: implicit globals are seen by procedures, implicit names
        // inside a procedure are its own, parameters shadow globals.
        ScriptCase{"g = 1\nSub S(g2)\ng = g + 1\nc = c + 1\nWScript.Echo "
                   "c\nEnd Sub\nS 0\nS 0\n"
                   "WScript.Echo g",
                   "1\n1\n3\n"},
        ScriptCase{"Function Fib(n)\nIf n < 2 Then Fib = n Else Fib = Fib(n - "
                   "1) + Fib(n - 2)\n"
                   "End Function\nWScript.Echo Fib(20)",
                   "6765\n"},
        ScriptCase{"x = Split(\"a;b\", \";\")(1) & UCase(Mid(\"abc\", "
                   "2))\nWScript.Echo x",
                   "bBC\n"},
        // Class_Terminate: an instance's own goes before those of what it
        // held; a local goes as Exit Sub leaves; a Terminate that keeps Me
        // does not run again.
        ScriptCase{"Dim saved\nClass C\nPublic N, Kid\nSub Class_Terminate\n"
                   "WScript.Echo \"t\" & N\nIf N = 9 Then Set saved = Me\n"
                   "End Sub\nEnd Class\n"
                   "Set p = New C\np.N = 1\nSet p.Kid = New C\np.Kid.N = 2\n"
                   "Set p = Nothing\nSub S\nDim o\nSet o = New C\no.N = 3\n"
                   "Exit Sub\nEnd Sub\nS\nSet k = New C\nk.N = 9\n"
                   "Set k = Nothing\nWScript.Echo TypeName(saved)\n"
                   "Set saved = Nothing\nWScript.Echo \"end\"",
                   "t1\nt2\nt3\nt9\nC\nend\n"},
        // The script's end lets go of its variables in the order they were
        // made; an instance held by another goes with it.
        ScriptCase{"Class C\nPublic N, Kid\nSub Class_Terminate\n"
                   "WScript.Echo \"t\" & N\nEnd Sub\nEnd Class\n"
                   "Set b = New C\nb.N = 1\nSet a = New C\na.N = 2\n"
                   "Set b.Kid = New C\nb.Kid.N = 3\nWScript.Echo \"end\"",
                   "end\nt1\nt3\nt2\n"},
        // WScript.Quit ends the script without them.
        ScriptCase{"Class C\nSub Class_Terminate\nWScript.Echo \"t\"\n"
                   "End Sub\nEnd Class\nSet c = New C\nWScript.Quit",
                   ""},
        // One call site meets instances of classes whose members are
        // numbered differently.
        ScriptCase{"Class A\nFunction F\nF = \"a\"\nEnd Function\nEnd Class\n"
                   "Class B\nFunction G\nG = 1\nEnd Function\n"
                   "Function F\nF = \"b\"\nEnd Function\nEnd Class\n"
                   "For Each o In Array(New A, New B, New A)\ns = s & o.F()\n"
                   "Next\nWScript.Echo s",
                   "aba\n"},
        // With keeps its object in a slot of the running procedure.
        ScriptCase{"Function F(n)\n"
                   "With CreateObject(\"Scripting.Dictionary\")\n"
                   ".Add \"n\", n\nIf n > 0 Then F = F(n - 1) + .Item(\"n\") "
                   "Else F = .Item(\"n\")\nEnd With\nEnd Function\n"
                   "WScript.Echo F(3)",
                   "6\n"}));

TEST(InterpreterTest, UndeclaredNameUnderOptionExplicitFailsWhenReached) {
  Outcome outcome =
      RunText("Option Explicit\nDim a\nWScript.Echo \"before\"\nb = 1");
  EXPECT_EQ(outcome.code, kExitRuntimeError);
  EXPECT_EQ(outcome.out, "before\n");
  EXPECT_EQ(outcome.err, "t.vbs(4, 1) runtime error: Variable is undefined\n");
}

TEST(InterpreterTest, RunawayRecursionFailsWithOutOfStackSpace) {
  Outcome outcome = RunText("Sub R\nR\nEnd Sub\nR");
  EXPECT_EQ(outcome.code, kExitRuntimeError);
  // The innermost calls are shown, the rest counted.
  EXPECT_EQ(outcome.err.rfind("t.vbs(2, 1) runtime error: Out of stack "
                              "space\n    called from t.vbs(2, 1)\n",
                              0),
            0u)
      << outcome.err;
  EXPECT_TRUE(outcome.err.ends_with(" more calls\n")) << outcome.err;
}

TEST(InterpreterTest, ValuesGiveBackWhatTheyWereCharged) {
  RunText("x = vbCrLf");  // the named constants live as long as the process
  const size_t before = script::MemoryInUse();
  Outcome outcome = RunText(
      "a = Split(\"a,b,c\", \",\")\n"
      "Set d = CreateObject(\"Scripting.Dictionary\")\n"
      "d.Add \"k\", a\nd.Add d, d\nd.Key(\"k\") = String(50, \"j\")\n"
      "d.Remove d\ns = String(100, \"x\")\ns = s & \"y\" & s\n"
      "ReDim b(10)\nb(1) = a\nReDim Preserve b(20)\nErase b\n"
      "Set d(1) = d\nc = a\nc(0) = \"copied\"\n"
      "Set f = CreateObject(\"Scripting.FileSystemObject\")\n"
      "Set t = f.OpenTextFile(\"none\")\n");
  EXPECT_EQ(outcome.code, kExitRuntimeError);  // the file is missing
  EXPECT_NE(outcome.err.find("File not found"), std::string::npos);
  EXPECT_EQ(script::MemoryInUse(), before);
}

TEST(InterpreterTest, InstancesGiveBackWhatTheyWereChargedEvenInCycles) {
  RunText("x = vbCrLf");
  const size_t before = script::MemoryInUse();
  Outcome outcome = RunText(
      "Class C\nPublic Other\nDim a(3)\nEnd Class\n"
      "Set x = New C\nSet y = New C\nSet x.Other = y\nSet y.Other = x\n"
      "Set x = Nothing\nSet y = Nothing\nSet z = New C\nz.a(1) = \"v\"");
  EXPECT_EQ(outcome.code, 0) << outcome.err;
  EXPECT_EQ(script::MemoryInUse(), before);
}

TEST(InterpreterTest, InstancesCountAgainstTheMemoryBudget) {
  std::ostringstream out, err;
  RunOptions options;
  options.max_memory = size_t{1} << 20;
  options.max_statements = 10'000'000;  // without the charge: too long
  EXPECT_EQ(RunScript("Class C\nPublic Link\nEnd Class\nSet h = Nothing\n"
                      "Do\nSet c = New C\nSet c.Link = h\nSet h = c\nLoop",
                      "t.vbs", out, err, options),
            kExitRuntimeError);
  EXPECT_EQ(err.str(), "t.vbs(6, 1) runtime error: Out of memory\n");
}

TEST(InterpreterTest, ClassThatMakesItselfFailsWithOutOfStackSpace) {
  Outcome outcome = RunText(
      "Class C\nPublic Inner\nSub Class_Initialize\nSet Inner = New C\n"
      "End Sub\nEnd Class\nSet c = New C");
  EXPECT_EQ(outcome.code, kExitRuntimeError);
  EXPECT_EQ(
      outcome.err.rfind("t.vbs(4, 1) runtime error: Out of stack space", 0), 0u)
      << outcome.err;
}

TEST(InterpreterTest, StatementBudgetEndsEndlessLoops) {
  std::ostringstream out, err;
  RunOptions options;
  options.max_statements = 1000;
  EXPECT_EQ(RunScript("Do\nLoop", "t.vbs", out, err, options),
            kExitRuntimeError);
  EXPECT_EQ(err.str(), "t.vbs(1, 1) runtime error: Script ran too long\n");
}

// Each theme file registers its own builtins: a name registered twice (two
// changes adding the same function) would leave one entry unreachable.
TEST(BuiltinTableTest, EveryEntryIsFoundByItsNameInAnyCase) {
  using namespace script;
  for (auto group :
       {TextBuiltins(), NumberBuiltins(), ConversionBuiltins(), DateBuiltins(),
        FormatBuiltins(), ValueBuiltins(), HostBuiltins()}) {
    for (const BuiltinInfo& info : group) {
      std::string lower;
      for (char c : info.name) lower += static_cast<char>(std::tolower(c));
      const int32_t id = FindBuiltin(lower);
      ASSERT_GE(id, 0) << info.name;
      EXPECT_EQ(BuiltinAt(id).call, info.call) << info.name;
      EXPECT_LE(info.min_args, info.max_args) << info.name;
    }
  }
  EXPECT_EQ(FindBuiltin("InStr"), -1);  // the parser asks in lower case
}
// One call site meets objects of several host classes and two of the same
// class in turn: a member resolved for one class must not be used for
// another whose table numbers it differently (File and Folder share their
// first members; Delete, Count, Item, Write and others do not line up).
struct SiteCase {
  const char* call;  // the member call at the site, on `o`
  const char* objects;
  const char* printed;  // each object's result twice; %D the folder
};

class CallSiteTest : public testing::TestWithParam<SiteCase> {};

TEST_P(CallSiteTest, EachClassGetsItsOwnMember) {
  const SiteCase& c = GetParam();
  char folder[] = "/tmp/pellar_site_XXXXXX";
  ASSERT_NE(::mkdtemp(folder), nullptr);
  const std::string path = folder;
  const std::string script =
      "dir = \"" + path + "\"\n" +
      R"vbs(Set fso = CreateObject("Scripting.FileSystemObject")
Set fso2 = CreateObject("Scripting.FileSystemObject")
Set w = fso.CreateTextFile(dir & "/a.txt")
w.Write "abc"
w.Close
Set fld = fso.GetFolder(dir)
Set fi = fso.GetFile(dir & "/a.txt")
Set fi2 = fso.GetFile(dir & "/a.txt")
Set fls = fld.Files
Set subs = fld.SubFolders
Set ts = fso.OpenTextFile(dir & "/a.txt")
Set d1 = CreateObject("Scripting.Dictionary")
d1.Add "a", 1
Set d2 = CreateObject("Scripting.Dictionary")
Set re = New RegExp
re.Pattern = "(b)"
re.Global = True
Set re2 = New RegExp
re2.Pattern = "x"
Set ms = re.Execute("abcb")
Set m = ms(0)
Set m2 = ms(1)
Set sm = m.SubMatches
Set sh = CreateObject("WScript.Shell")
Set env = sh.Environment("PROCESS")
Set args = WScript.Arguments
Set named = args.Named
Set unnamed = args.Unnamed
Set out = WScript.StdOut
Function Probe(o)
  On Error Resume Next
  Probe = )vbs" + std::string(c.call) + R"vbs(
  If Err.Number <> 0 Then Probe = "E" & Err.Number
End Function
For Each o In Array()vbs" +
      c.objects + R"vbs()
  WScript.Echo Probe(o) & " " & Probe(o)
Next
)vbs";
  std::string printed = c.printed;
  for (size_t at; (at = printed.find("%D")) != std::string::npos;)
    printed.replace(at, 2, path);
  for (size_t at; (at = printed.find("%N")) != std::string::npos;)
    printed.replace(at, 2, path.substr(path.rfind('/') + 1));
  Outcome outcome = RunText(script);
  std::filesystem::remove_all(path);
  EXPECT_EQ(outcome.code, 0) << outcome.err;
  EXPECT_EQ(outcome.out, printed) << c.call;
}

INSTANTIATE_TEST_SUITE_P(
    HostObjects, CallSiteTest,
    testing::Values(
        SiteCase{"o.Count",
                 "d1, ms, d2, sm, fls, subs, args, named, unnamed, re, "
                 "WScript, d1",
                 "1 1\n2 2\n0 0\n1 1\n1 1\n0 0\n0 0\n0 0\n0 0\nE438 E438\n"
                 "E438 E438\n1 1\n"},
        SiteCase{"o.Length", "m, args, m2, ms, unnamed, m",
                 "1 1\n0 0\n1 1\nE438 E438\n0 0\n1 1\n"},
        SiteCase{"o.Exists(\"a\")", "d1, named, d2, re, d1",
                 "True True\nFalse False\nFalse False\nE438 E438\nTrue True\n"},
        SiteCase{"o.Item(0)", "ms, d2, sm, args, d1, env, m",
                 "b b\n \nb b\nE9 E9\n \n \nE450 E450\n"},
        SiteCase{"o.Name", "WScript, fi, fld, fi2, d1, fld",
                 "Windows Script Host Windows Script Host\na.txt a.txt\n"
                 "%N %N\na.txt a.txt\nE438 E438\n%N %N\n"},
        SiteCase{"o.Path", "fi, fld, fi2, fso",
                 "%D/a.txt %D/a.txt\n%D %D\n%D/a.txt %D/a.txt\nE438 E438\n"},
        SiteCase{"o.Type", "fi, fld, fi2, fld, re",
                 "TXT File TXT File\nFile folder File folder\n"
                 "TXT File TXT File\nFile folder File folder\nE438 E438\n"},
        SiteCase{"o.Size", "fi, fld, fi2, fls", "3 3\n3 3\n3 3\nE438 E438\n"},
        SiteCase{"TypeName(o.ParentFolder)", "fi, fld, ts",
                 "Folder Folder\nFolder Folder\nE438 E438\n"},
        SiteCase{"o.Value", "m, m2, d1, m", "b b\nb b\nE438 E438\nb b\n"},
        SiteCase{"o.FirstIndex", "m2, m, sm", "3 3\n1 1\nE438 E438\n"},
        SiteCase{"o.Number", "Err, d1, Err", "0 0\nE438 E438\n0 0\n"},
        SiteCase{"o.Pattern", "re, re2, m, re",
                 "(b) (b)\nx x\nE438 E438\n(b) (b)\n"},
        SiteCase{"o.Global", "re, re2, fso",
                 "True True\nFalse False\nE438 E438\n"},
        SiteCase{"o.Test(\"abc\")", "re, re2, ts, re",
                 "True True\nFalse False\nE438 E438\nTrue True\n"},
        SiteCase{"o.FileExists(dir & \"/a.txt\")", "fso, fso2, fld, fso",
                 "True True\nTrue True\nE438 E438\nTrue True\n"},
        SiteCase{"o.ExpandEnvironmentStrings(\"%PELLAR_NO_SUCH_NAME%\")",
                 "sh, d1, sh",
                 "%PELLAR_NO_SUCH_NAME% %PELLAR_NO_SUCH_NAME%\nE438 E438\n"
                 "%PELLAR_NO_SUCH_NAME% %PELLAR_NO_SUCH_NAME%\n"},
        SiteCase{"o.Line", "ts, out, ts", "1 1\nE438 E438\n1 1\n"},
        SiteCase{"o.AtEndOfStream", "ts, fi, ts",
                 "False False\nE438 E438\nFalse False\n"},
        SiteCase{"o.Write(\"\")", "out, ts, d1, out",
                 " \nE54 E54\nE438 E438\n \n"},
        SiteCase{"UBound(o.Keys)", "d1, d2, named, d1",
                 "0 0\n-1 -1\nE438 E438\n0 0\n"},
        SiteCase{"o.Version", "WScript, re, WScript",
                 "5.812 5.812\nE438 E438\n5.812 5.812\n"},
        SiteCase{"o.Unnamed.Count", "args, named, args",
                 "0 0\nE438 E438\n0 0\n"},
        SiteCase{"TypeName(o.GetFile(dir & \"/a.txt\"))", "fso, fld, fso2",
                 "File File\nE438 E438\nFile File\n"},
        SiteCase{"TypeName(o.Files)", "fld, fi, fld",
                 "Files Files\nE438 E438\nFiles Files\n"},
        // The name's case does not matter, nor the site's first object.
        SiteCase{"o.cOUNT", "named, d1", "0 0\n1 1\n"}));

// Eval, Execute, ExecuteGlobal and GetRef failures, as Err sees them.
struct ExecutedErrorCase {
  const char* script;
  const char* err;  // Err.Number and Err.Description
};

class ExecutedTextErrorTest : public testing::TestWithParam<ExecutedErrorCase> {
};

TEST_P(ExecutedTextErrorTest, IsTrappable) {
  const ExecutedErrorCase& c = GetParam();
  Outcome outcome =
      RunText(std::string("Function F(a) : F = a : End Function\n"
                          "On Error Resume Next\n") +
              c.script + "\nWScript.Echo Err.Number & \" \" & Err.Description");
  EXPECT_EQ(outcome.out, std::string(c.err) + "\n") << c.script;
}

INSTANTIATE_TEST_SUITE_P(
    Interpreter, ExecutedTextErrorTest,
    testing::Values(
        ExecutedErrorCase{"Execute \"x = = 1\"", "1023 Expected expression"},
        ExecutedErrorCase{"Execute \"If x Then\"", "1014 Expected 'End'"},
        ExecutedErrorCase{"Execute \"x = (1\"", "1006 Expected ')'"},
        ExecutedErrorCase{"Execute \"Dim 1\"", "1010 Expected identifier"},
        ExecutedErrorCase{"x = Eval(\"a b\")",
                          "1025 Expected end of statement"},
        ExecutedErrorCase{"x = Eval(\"x = 1 : y\")",
                          "1025 Expected end of statement"},
        ExecutedErrorCase{"Execute \"x = \"\"abc\"",
                          "1033 Unterminated string constant"},
        ExecutedErrorCase{"Execute \"x = $\"", "1032 Invalid character"},
        ExecutedErrorCase{"Execute \"Exit For\"",
                          "1039 Invalid 'exit' statement"},
        ExecutedErrorCase{"Execute \"x = Len()\"",
                          "450 Wrong number of arguments or invalid property "
                          "assignment"},
        ExecutedErrorCase{"Execute \"GoTo 1\"", "1002 Syntax error"},
        ExecutedErrorCase{"ExecuteGlobal \"Sub F : End Sub\"",
                          "1041 Name redefined"},
        ExecutedErrorCase{"ExecuteGlobal \"Dim f\"", "1041 Name redefined"},
        ExecutedErrorCase{"x = Eval(\"1 / 0\")", "11 Division by zero"},
        ExecutedErrorCase{"Set r = GetRef(\"Nope\")",
                          "5 Invalid procedure call or argument"},
        ExecutedErrorCase{"y = 1 : Set r = GetRef(\"y\")",
                          "5 Invalid procedure call or argument"},
        ExecutedErrorCase{"Set r = GetRef(\"Len\")",
                          "5 Invalid procedure call or argument"},
        ExecutedErrorCase{"Set r = GetRef(\"F\") : x = r(1, 2)",
                          "450 Wrong number of arguments or invalid property "
                          "assignment"},
        ExecutedErrorCase{"Set r = GetRef(\"F\") : x = r.Name",
                          "438 Object doesn't support this property or method"},
        ExecutedErrorCase{"s = \"Execute s\" : Execute s",
                          "28 Out of stack space"},
        ExecutedErrorCase{"ExecuteGlobal \"Sub R : R : End Sub\" : R",
                          "28 Out of stack space"}));

// The scope an executed text runs in, and what it leaves behind.
TEST(InterpreterTest, ExecutedTextsSeeTheirScope) {
  const ScriptCase cases[] = {
      // Slots a procedure passed by reference stay where they are while an
      // Execute among the arguments declares more.
      {"Sub Bump(n, w) : n = n + 1 : End Sub\n"
       "Sub S\na = 1\nBump a, Execute(\"Dim q1, q2, q3, q4, q5, q6, q7, q8\")\n"
       "WScript.Echo a\nEnd Sub\nS",
       "2\n"},
      // A local Dim'd by Execute hides the global from later texts only.
      {"g = 1\nSub S\nExecute \"Dim g : g = 2\"\nWScript.Echo Eval(\"g\")\n"
       "End Sub\nS\nWScript.Echo g",
       "2\n1\n"},
      // A procedure Execute creates in a procedure is that procedure's.
      {"Sub S\nExecute \"Sub T : WScript.Echo 7 : End Sub\"\nT\nEnd Sub\nS\n"
       "On Error Resume Next\nSet r = GetRef(\"T\")\nWScript.Echo Err.Number",
       "7\n5\n"},
      {"Sub S\nDim T\nExecute \"Sub T : WScript.Echo 8 : End Sub\"\nT\n"
       "End Sub\nS",
       "8\n"},
      // A name a procedure only calls is looked up when the call runs.
      {"Sub S\nWScript.Echo Later(2)\nEnd Sub\n"
       "ExecuteGlobal \"Function Later(n) : Later = n * 3 : End Function\"\nS",
       "6\n"},
      {"Option Explicit\nExecuteGlobal \"Dim v : v = 4\"\nv = v + 1\n"
       "WScript.Echo v, Eval(\"v * 2\")",
       "5 10\n"},
      // A text kept from before is parsed again once a global was added.
      {"WScript.Echo \"[\" & Eval(\"late\") & \"]\"\n"
       "ExecuteGlobal \"late = 5\"\nWScript.Echo Eval(\"late\")\n"
       "Sub S : WScript.Echo Eval(\"later\") : End Sub\n"
       "S\nExecuteGlobal \"later = 6\"\nS\n"
       "Sub T : WScript.Echo Eval(\"w\") : Execute \"w = 3\" : "
       "WScript.Echo Eval(\"w\") : End Sub\nT\nT",
       "[]\n5\n\n6\n\n3\n\n3\n"},
      // Redefining a procedure ExecuteGlobal made replaces it.
      {"ExecuteGlobal \"Function G : G = 1 : End Function\"\n"
       "ExecuteGlobal \"Function G : G = 2 : End Function\"\nWScript.Echo G()",
       "2\n"},
  };
  for (const ScriptCase& c : cases) {
    Outcome outcome = RunText(c.script);
    EXPECT_EQ(outcome.code, 0) << c.script << ": " << outcome.err;
    EXPECT_EQ(outcome.out, c.printed) << c.script;
  }
}

TEST(InterpreterTest, UndeclaredNameInEvalUnderOptionExplicit) {
  Outcome outcome = RunText(
      "Option Explicit\nOn Error Resume Next\nDim x\n"
      "x = Eval(\"nope + 1\")\nWScript.Echo Err.Number");
  EXPECT_EQ(outcome.out, "500\n");
}

// A long executed text costs memory and time by its length before it runs.
TEST(InterpreterTest, ExecutedTextsKeepToTheBudgets) {
  std::ostringstream out, err;
  RunOptions options;
  options.max_memory = size_t{1} << 20;
  EXPECT_EQ(RunScript("On Error Resume Next\ns = Space(200000)\nExecute s\n"
                      "WScript.Echo Err.Number",
                      "t.vbs", out, err, options),
            kExitOk);
  EXPECT_EQ(out.str(), "7\n");
  std::ostringstream out2, err2;
  RunOptions limited;
  limited.max_statements = 1000;
  EXPECT_EQ(RunScript("Execute Space(100000)", "t.vbs", out2, err2, limited),
            kExitRuntimeError);
  EXPECT_EQ(err2.str(), "t.vbs(1, 1) runtime error: Script ran too long\n");
}

TEST(InterpreterTest, TreeIsCompact) {
  std::string script;
  for (int i = 0; i < 100; ++i)
    script += "x = x + " + std::to_string(i) + " * 2\n";
  ParseResult parsed = Parse(FromUtf8(script));
  ASSERT_FALSE(parsed.error);
  EXPECT_EQ(parsed.program.StatementCount(), 100u);
  EXPECT_LE(parsed.program.TreeBytes() / parsed.program.StatementCount(), 200u);
}

// ---- RegExp dialect and replacement texts ----------------------------------

struct DialectCase {
  const char16_t* pattern;
  const char16_t* pcre2;
};

class RegExpDialectTest : public testing::TestWithParam<DialectCase> {};

TEST_P(RegExpDialectTest, TranslatesWhereTheDialectsDiffer) {
  EXPECT_EQ(script::TranslatePattern(GetParam().pattern, false, false).pattern,
            Text(GetParam().pcre2));
}

INSTANTIATE_TEST_SUITE_P(
    RegExp, RegExpDialectTest,
    testing::Values(
        // Letters JScript does not know as escapes stand for themselves;
        // PCRE2 would refuse them or read them as its own escapes.
        DialectCase{u"\\q\\A\\Z\\z\\h\\R\\K\\e", u"qAZzhRKe"},
        DialectCase{u"\\v", u"\\x0B"},  // a vertical tab, not a class
        DialectCase{u"[\\v\\q]", u"[\\x0Bq]"},
        // The escapes both read alike stay.
        DialectCase{u"\\d\\w\\s\\b\\B\\n\\t\\x41\\u0041\\cJ\\1\\.\\\\",
                    u"\\d\\w\\s\\b\\B\\n\\t\\x41\\u0041\\cJ\\1\\.\\\\"},
        DialectCase{u"[]a]", u"[]a]"},  // the empty class, as JScript reads it
        DialectCase{u"[^]", u"[^]"}, DialectCase{u"a\\", u"a\\"}));

TEST(RegExpDialectTest, FlagsChooseLineAndCaseRules) {
  const uint32_t plain = script::TranslatePattern(u"a", false, false).options;
  EXPECT_TRUE(plain & PCRE2_DOLLAR_ENDONLY);  // "$" only at the very end
  EXPECT_FALSE(plain & (PCRE2_MULTILINE | PCRE2_CASELESS));
  const uint32_t both = script::TranslatePattern(u"a", true, true).options;
  EXPECT_TRUE(both & PCRE2_MULTILINE);
  EXPECT_TRUE(both & PCRE2_CASELESS);
  EXPECT_FALSE(both & PCRE2_DOLLAR_ENDONLY);
}

struct ReplacementCase {
  const char16_t* replacement;
  const char16_t* expanded;
};

class ReplacementTest : public testing::TestWithParam<ReplacementCase> {};

TEST_P(ReplacementTest, ExpandsDollarForms) {
  // "ab(cd)(x)?ef": the match "cd" at 2..4 of "abcdef", group 1 "cd",
  // group 2 not taking part.
  const std::vector<std::ptrdiff_t> groups = {2, 4, 2, 4, -1, -1};
  EXPECT_EQ(
      script::ExpandReplacement(GetParam().replacement, u"abcdef", groups),
      Text(GetParam().expanded));
}

INSTANTIATE_TEST_SUITE_P(
    RegExp, ReplacementTest,
    testing::Values(ReplacementCase{u"[$1]", u"[cd]"},
                    ReplacementCase{u"[$2]", u"[]"},    // took no part
                    ReplacementCase{u"[$3]", u"[$3]"},  // no such group
                    ReplacementCase{u"[$0]", u"[$0]"},
                    ReplacementCase{u"[$10]", u"[cd0]"},  // one digit fits
                    ReplacementCase{u"$&$`$'", u"cdabef"},
                    ReplacementCase{u"$$1", u"$1"},
                    ReplacementCase{u"$x$", u"$x$"}));

}  // namespace
}  // namespace pellar
