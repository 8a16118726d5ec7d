#include "interpreter.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>

#include <pellar/base/failure.h>

namespace pellar {
namespace {

// Longest text the host builds itself (String, Space, &): far beyond what
// a report script needs, and small enough that a runaway script fails with
// "Out of memory" instead of exhausting the machine.
constexpr size_t kMaxTextLength = size_t{1} << 26;

constexpr int kObjectRequired = 424;
constexpr int kInternalError = 51;

// A failure raised by the library, kept apart from the host's own errors
// because the two are reported differently.
class LibraryFailure : public Failure {
 public:
  explicit LibraryFailure(const Failure& failure) : Failure(failure) {}
};

[[noreturn]] void ObjectRequired() {
  throw Failure(kObjectRequired, Text(u"Object required"));
}

void CheckLength(size_t length) {
  if (length > kMaxTextLength) throw Failure(error::kOutOfMemory);
}

// Unary minus by VBScript's rules: the type widens when the negation does
// not fit (-(-32768) is a Long), Empty is Integer 0, text is read as a
// Double.
Value Negate(const Value& value) {
  if (std::holds_alternative<std::monostate>(value)) return int16_t{0};
  if (const auto* n = std::get_if<int16_t>(&value)) {
    if (*n == INT16_MIN) return int32_t{-INT16_MIN};
    return static_cast<int16_t>(-*n);
  }
  if (const auto* n = std::get_if<int32_t>(&value)) {
    if (*n == INT32_MIN) return -static_cast<double>(*n);
    return static_cast<int32_t>(-*n);
  }
  if (const auto* d = std::get_if<double>(&value)) return -*d;
  if (const auto* b = std::get_if<bool>(&value)) {
    return static_cast<int16_t>(*b ? 1 : 0);
  }
  return -ParseNumber(std::get<Text>(value));
}

int32_t NonNegative(const Value& value) {
  int32_t n = ToInt32(value);
  if (n < 0) throw Failure(error::kInvalidCall);
  return n;
}

void Write(std::ostream& stream, std::string_view bytes) {
  stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

Interpreter::Interpreter(const Program& program, std::ostream& out)
    : program_(program), out_(out), variables_(program.variables.size()) {}

std::optional<RuntimeError> Interpreter::Run() {
  for (const Statement& statement : program_.statements) {
    RuntimeError fault;
    try {
      Execute(statement);
      continue;
    } catch (const LibraryFailure& failure) {
      fault.number = failure.number();
      fault.description = failure.description();
      fault.from_library = true;
    } catch (const Failure& failure) {
      fault.number = failure.number();
      fault.description = failure.description();
    } catch (const std::exception& e) {
      try {
        const Failure failure = CaughtFailure();  // out of memory: 7
        fault.number = failure.number();
        fault.description = failure.description();
      } catch (const std::exception&) {
        fault.number = kInternalError;
        fault.description = u"Internal error: " + FromUtf8(e.what());
      }
    }
    if (resume_next_) {
      err_number_ = fault.number;
      err_description_ = std::move(fault.description);
      continue;
    }
    fault.line = statement.line;
    fault.column = statement.column;
    return fault;
  }
  return std::nullopt;
}

void Interpreter::ClearErr() {
  err_number_ = 0;
  err_description_.clear();
}

void Interpreter::Execute(const Statement& statement) {
  switch (statement.kind) {
    case Statement::Kind::kCreate: {
      Text progid = ToText(Evaluate(*statement.operands.at(0)));
      std::unique_ptr<Object> created;
      try {
        created = Object::Create(progid);
      } catch (const Failure& failure) {
        throw LibraryFailure(failure);
      }
      Variable& target = variables_.at(statement.variable);
      target.value = Value{};
      target.is_object = true;
      target.object = std::move(created);
      return;
    }
    case Statement::Kind::kSetObject: {
      const Variable& source = variables_.at(statement.source);
      if (!source.is_object) ObjectRequired();
      std::shared_ptr<Object> object = source.object;
      Variable& target = variables_.at(statement.variable);
      target.value = Value{};
      target.is_object = true;
      target.object = std::move(object);
      return;
    }
    case Statement::Kind::kSetNothing: {
      Variable& target = variables_.at(statement.variable);
      target.value = Value{};
      target.is_object = true;
      target.object.reset();
      return;
    }
    case Statement::Kind::kAssign: {
      Value value = Evaluate(*statement.operands.at(0));
      Variable& target = variables_.at(statement.variable);
      target.value = std::move(value);
      target.is_object = false;
      target.object.reset();
      return;
    }
    case Statement::Kind::kEcho: {
      // Everything is evaluated first: a failing argument prints nothing.
      std::vector<Value> values;
      values.reserve(statement.operands.size());
      for (const ExprPtr& operand : statement.operands) {
        values.push_back(Evaluate(*operand));
      }
      std::string line;
      for (size_t i = 0; i < values.size(); ++i) {
        if (i > 0) line += ' ';
        line += ToUtf8(ToTextNumericBoolean(values[i]));
      }
      line += '\n';
      Write(out_, line);
      return;
    }
    case Statement::Kind::kCall:
      CallMethod(statement.variable, statement.method, statement.operands);
      return;
    case Statement::Kind::kResumeNext:
      resume_next_ = true;
      ClearErr();
      return;
    case Statement::Kind::kGoToZero:
      resume_next_ = false;
      ClearErr();
      return;
    case Statement::Kind::kErrClear:
      ClearErr();
      return;
  }
}

const Value& Interpreter::ValueOf(int variable) {
  const Variable& v = variables_.at(variable);
  if (v.is_object) throw Failure(error::kTypeMismatch);
  return v.value;
}

std::shared_ptr<Object> Interpreter::ObjectOf(int variable) {
  const Variable& v = variables_.at(variable);
  if (!v.is_object || v.object == nullptr) ObjectRequired();
  return v.object;
}

Value Interpreter::CallMethod(int variable, const Text& method,
                              const std::vector<ExprPtr>& operands) {
  // Held for the call, whatever the arguments do to the variables.
  std::shared_ptr<Object> object = ObjectOf(variable);
  std::vector<Arg> args;
  args.reserve(operands.size());
  for (const ExprPtr& operand : operands) {
    if (operand->kind == Expr::Kind::kVariable && !operand->grouped) {
      // variables_ never grows while running, so the reference stays valid.
      Variable& v = variables_.at(operand->variable);
      if (v.is_object) throw Failure(error::kTypeMismatch);
      args.push_back(Arg::Ref(v.value));
    } else {
      args.push_back(Arg::Val(Evaluate(*operand)));
    }
  }
  try {
    return Invoke(*object, method, args);
  } catch (const Failure& failure) {
    throw LibraryFailure(failure);
  }
}

Value Interpreter::Evaluate(const Expr& expr) {
  switch (expr.kind) {
    case Expr::Kind::kLiteral:
      return expr.literal;
    case Expr::Kind::kVariable:
      return ValueOf(expr.variable);
    case Expr::Kind::kErrNumber:
      return err_number_;
    case Expr::Kind::kErrDescription:
      return err_description_;
    case Expr::Kind::kFunction:
      return CallFunction(expr);
    case Expr::Kind::kMethod:
      return CallMethod(expr.variable, expr.method, expr.operands);
    case Expr::Kind::kNegate: {
      Value value = Evaluate(*expr.operands.at(0));
      for (int i = 0; i < expr.negations; ++i) value = Negate(value);
      return value;
    }
    case Expr::Kind::kConcat: {
      Text joined;
      for (const ExprPtr& operand : expr.operands) {
        Text part = ToText(Evaluate(*operand));
        CheckLength(joined.size() + part.size());
        joined += part;
      }
      return joined;
    }
  }
  throw Failure(kInternalError, Text(u"Internal error"));
}

Value Interpreter::CallFunction(const Expr& expr) {
  std::vector<Value> args;
  args.reserve(expr.operands.size());
  for (const ExprPtr& operand : expr.operands) {
    args.push_back(Evaluate(*operand));
  }
  // The parser checked the count; this guards the indexing below anyway.
  auto arg = [&](size_t i) -> const Value& { return args.at(i); };
  switch (expr.function) {
    case Builtin::kChr: {
      int32_t code = ToInt32(arg(0));
      if (code < 0 || code > 255) throw Failure(error::kInvalidCall);
      return Text(1, AnsiChar(static_cast<unsigned char>(code)));
    }
    case Builtin::kChrW: {
      int32_t code = ToInt32(arg(0));
      if (code < -32768 || code > 65535) throw Failure(error::kInvalidCall);
      if (code < 0) code += 65536;
      return Text(1, static_cast<char16_t>(code));
    }
    case Builtin::kLen:
      return static_cast<int32_t>(ToText(arg(0)).size());
    case Builtin::kLeft: {
      Text text = ToText(arg(0));
      size_t n = static_cast<size_t>(NonNegative(arg(1)));
      return text.substr(0, std::min(n, text.size()));
    }
    case Builtin::kRight: {
      Text text = ToText(arg(0));
      size_t n =
          std::min(static_cast<size_t>(NonNegative(arg(1))), text.size());
      return text.substr(text.size() - n);
    }
    case Builtin::kString: {
      size_t n = static_cast<size_t>(NonNegative(arg(0)));
      char16_t c;
      if (const auto* text = std::get_if<Text>(&arg(1))) {
        if (text->empty()) throw Failure(error::kInvalidCall);
        c = (*text)[0];
      } else {
        // A character code, taken modulo 256 as VBScript does.
        int32_t code = ToInt32(arg(1)) % 256;
        if (code < 0) code += 256;
        c = AnsiChar(static_cast<unsigned char>(code));
      }
      CheckLength(n);
      return Text(n, c);
    }
    case Builtin::kSpace: {
      size_t n = static_cast<size_t>(NonNegative(arg(0)));
      CheckLength(n);
      return Text(n, u' ');
    }
    case Builtin::kCStr:
      return ToText(arg(0));
    case Builtin::kCInt:
      return ToInt16(arg(0));
    case Builtin::kCLng:
      return ToInt32(arg(0));
  }
  throw Failure(kInternalError, Text(u"Internal error"));
}

int RunScript(std::string_view bytes, std::string_view file, std::ostream& out,
              std::ostream& err) {
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  if (bytes.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
    bytes.remove_prefix(kByteOrderMark.size());
  }
  ParseResult parsed = Parse(FromUtf8(bytes));
  auto where = [&](int line, int column) {
    // Piecewise: GCC 12 at -O3 warns falsely on "(" + std::string&&.
    Write(err, file);
    Write(err, "(");
    Write(err, std::to_string(line));
    Write(err, ", ");
    Write(err, std::to_string(column));
    Write(err, ") ");
  };
  if (parsed.error) {
    where(parsed.error->line(), parsed.error->column());
    Write(err, "syntax error: " + std::string(parsed.error->what()) + "\n");
    err.flush();
    return kExitSyntaxError;
  }
  Interpreter interpreter(parsed.program, out);
  std::optional<RuntimeError> failure = interpreter.Run();
  out.flush();
  if (failure) {
    where(failure->line, failure->column);
    Write(err, failure->from_library ? "PellarLib: " : "runtime error: ");
    Write(err, ToUtf8(failure->description) + "\n");
    err.flush();
    return kExitRuntimeError;
  }
  return kExitOk;
}

}  // namespace pellar
