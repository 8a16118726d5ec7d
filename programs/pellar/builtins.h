// The functions, constants and objects every script sees by name.
#ifndef PELLAR_HOST_BUILTINS_H_
#define PELLAR_HOST_BUILTINS_H_

#include <cstdint>
#include <string_view>

#include "variant.h"

namespace pellar::script {

// clang-format off
// Name, least and most arguments.
#define PELLAR_BUILTINS(X) \
  X(Len, 1, 1) \
  X(Left, 2, 2) \
  X(Right, 2, 2) \
  X(Mid, 2, 3) \
  X(InStr, 2, 4) \
  X(InStrRev, 2, 4) \
  X(Replace, 3, 6) \
  X(Split, 1, 4) \
  X(Join, 1, 2) \
  X(Trim, 1, 1) \
  X(LTrim, 1, 1) \
  X(RTrim, 1, 1) \
  X(UCase, 1, 1) \
  X(LCase, 1, 1) \
  X(Space, 1, 1) \
  X(String, 2, 2) \
  X(StrComp, 2, 3) \
  X(StrReverse, 1, 1) \
  X(Asc, 1, 1) \
  X(AscW, 1, 1) \
  X(Chr, 1, 1) \
  X(ChrW, 1, 1) \
  X(Hex, 1, 1) \
  X(Oct, 1, 1) \
  X(CStr, 1, 1) \
  X(CInt, 1, 1) \
  X(CLng, 1, 1) \
  X(CDbl, 1, 1) \
  X(CSng, 1, 1) \
  X(CBool, 1, 1) \
  X(CDate, 1, 1) \
  X(CByte, 1, 1) \
  X(CCur, 1, 1) \
  X(Int, 1, 1) \
  X(Fix, 1, 1) \
  X(Abs, 1, 1) \
  X(Sgn, 1, 1) \
  X(Round, 1, 2) \
  X(Sqr, 1, 1) \
  X(Exp, 1, 1) \
  X(Log, 1, 1) \
  X(Sin, 1, 1) \
  X(Cos, 1, 1) \
  X(Tan, 1, 1) \
  X(Atn, 1, 1) \
  X(IsNumeric, 1, 1) \
  X(IsEmpty, 1, 1) \
  X(IsNull, 1, 1) \
  X(IsArray, 1, 1) \
  X(IsObject, 1, 1) \
  X(IsDate, 1, 1) \
  X(TypeName, 1, 1) \
  X(VarType, 1, 1) \
  X(LBound, 1, 2) \
  X(UBound, 1, 2) \
  X(Array, 0, 255) \
  X(Now, 0, 0) \
  X(Date, 0, 0) \
  X(Time, 0, 0) \
  X(Year, 1, 1) \
  X(Month, 1, 1) \
  X(Day, 1, 1) \
  X(Hour, 1, 1) \
  X(Minute, 1, 1) \
  X(Second, 1, 1) \
  X(Weekday, 1, 2) \
  X(DateSerial, 3, 3) \
  X(TimeSerial, 3, 3) \
  X(DateAdd, 3, 3) \
  X(DateDiff, 3, 5) \
  X(DateValue, 1, 1) \
  X(TimeValue, 1, 1) \
  X(MonthName, 1, 2) \
  X(WeekdayName, 1, 3) \
  X(FormatDateTime, 1, 2) \
  X(FormatNumber, 1, 5) \
  X(FormatCurrency, 1, 5) \
  X(FormatPercent, 1, 5) \
  X(DatePart, 2, 4) \
  X(Timer, 0, 0) \
  X(Rnd, 0, 1) \
  X(Randomize, 0, 1) \
  X(CreateObject, 1, 2) \
  X(WScript, 0, 0) \
  X(Err, 0, 0) \
  X(Filter, 2, 4) \
  X(ScriptEngine, 0, 0) \
  X(ScriptEngineMajorVersion, 0, 0) \
  X(ScriptEngineMinorVersion, 0, 0) \
  X(ScriptEngineBuildVersion, 0, 0) \
  X(Eval, 1, 1) \
  X(Execute, 1, 1) \
  X(ExecuteGlobal, 1, 1) \
  X(GetRef, 1, 1)
// clang-format on

enum class Builtin : uint8_t {
#define PELLAR_ENUM(name, lo, hi) k##name,
  PELLAR_BUILTINS(PELLAR_ENUM)
#undef PELLAR_ENUM
};

struct BuiltinInfo {
  Builtin id;
  int8_t min_args;
  uint8_t max_args;
};

// By lower-case name; nullptr when `lower` names no function.
const BuiltinInfo* FindBuiltin(std::string_view lower);
const BuiltinInfo& BuiltinById(Builtin id);
// Runs a builtin; the parser has checked the argument count.
// The value a builtin receives for an argument left out between commas.
const Var* MissingArgument();

Var CallBuiltin(Interpreter& in, Builtin id, Args args);
// Upper case by the same one-to-one mapping as Lower.
Text Upper(TextView text);

// The named constants (vbCrLf, vbTextCompare, ...); false when unknown.
bool FindConstant(std::string_view lower, Var* value);

}  // namespace pellar::script

#endif  // PELLAR_HOST_BUILTINS_H_
