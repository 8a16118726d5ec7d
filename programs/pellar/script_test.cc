#include <sstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "interpreter.h"
#include "parser.h"

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
        SyntaxCase{"a = 1\r\n\r\nb = 2 +", 3, 7, "Invalid character"},
        SyntaxCase{"a = 1\rb = $", 2, 5, "Invalid character"},
        SyntaxCase{"x = ", 1, 5, "Expected expression"},
        SyntaxCase{"  c.Pad(s, 5)", 1, 8,
                   "Cannot use parentheses when calling a Sub"},
        SyntaxCase{"WScript.Echo(\"a\", \"b\")", 1, 13,
                   "Cannot use parentheses when calling a Sub"},
        SyntaxCase{"Call c.Pad (s), 5", 1, 15, "Expected end of statement"},
        SyntaxCase{"x = y z", 1, 7, "Expected end of statement"},
        SyntaxCase{"x = (1", 1, 7, "Expected ')'"},
        SyntaxCase{"x = 1 : y = 2", 1, 7,
                   "Only one statement per line is supported"},
        SyntaxCase{"If x Then", 1, 1, "'If' is not supported"},
        SyntaxCase{"x = UCase(\"a\")", 1, 5, "'UCase' is not supported"},
        SyntaxCase{"x = Foo(1)", 1, 5, "Unknown function 'Foo'"},
        SyntaxCase{"x = LEN(\"a\", 1)", 1, 5,
                   "Wrong number of arguments: 'LEN'"},
        SyntaxCase{"x = Len", 1, 8, "Expected '('"},
        SyntaxCase{"x = Now", 1, 5, "'Now' is not supported"},
        SyntaxCase{"Dim a, len", 1, 8,
                   "'len' cannot be used as a variable name"},
        SyntaxCase{"True = 1", 1, 1, "Expected statement"},
        SyntaxCase{"Set = 5", 1, 5, "Expected identifier"},
        SyntaxCase{"Set c = 5", 1, 9,
                   "Expected CreateObject, Nothing or an object variable"},
        SyntaxCase{"x = CreateObject(\"PellarLib.Cell\")", 1, 5,
                   "CreateObject needs Set: Set NAME = CreateObject(...)"},
        SyntaxCase{"On Error GoTo 1", 1, 15,
                   "Only 'On Error GoTo 0' is supported"},
        SyntaxCase{"On Error Resume", 1, 16, "Expected 'Next'"},
        SyntaxCase{"WScript.Quit 1", 1, 9, "'WScript.Quit' is not supported"},
        SyntaxCase{"Err.Clear 1", 1, 1, "Err.Clear takes no arguments"},
        SyntaxCase{"x = 1.5", 1, 6, "Expected end of statement"},
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
           "c.Method",
           "c.Method ()",
           "Call c.Method",
           "Call c.Method()",
           "Err.Clear()",
           "Dim Second\nyear = second & Month",
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
  ASSERT_EQ(result.program.variables.size(), 1u);
  EXPECT_EQ(result.program.variables[0], u"Abc");
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
                    "t.vbs(4, 1) runtime error: Object required\n"}));

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
    testing::Values(EchoCase{"-CInt(-32768)", "32768"},
                    EchoCase{"-CLng(\"-2147483648\")", "2147483648"},
                    EchoCase{"-(-2147483647)", "2147483647"},
                    EchoCase{"2147483648", "2147483648"},
                    EchoCase{"-True", "1"}, EchoCase{"-Empty", "0"},
                    EchoCase{"-\" 2.5 \"", "-2.5"},
                    EchoCase{"--\"1e3\"", "1000"},
                    EchoCase{"ChrW(65) & ChrW(-1)", "A\xEF\xBF\xBF"},
                    EchoCase{"String(3, 321)", "AAA"},
                    EchoCase{"String(2, \"xy\")", "xx"},
                    EchoCase{"Left(\"abc\", 9) & Right(\"abc\", 2)", "abcbc"},
                    EchoCase{"Len(12345) & Len(Empty)", "50"}));

}  // namespace
}  // namespace pellar
