#include "frame/automation.h"

#include <array>
#include <tuple>
#include <type_traits>
#include <utility>

#include "files/file.h"
#include "files/folder.h"
#include "files/ftp.h"
#include "frame/failure.h"
#include "frame/ufl.h"
#include "mail/email.h"
#include "table/table.h"
#include "workarea/cell.h"

namespace pellar {
namespace {

// The widest method (FTP.SendFile) takes eight arguments.
constexpr size_t kMaxParams = 8;

// How a C++ parameter type appears to automation: its declared type, its
// passing, and the Value alternative that carries it.
template <typename P>
struct ParamTraits;
template <>
struct ParamTraits<const Text&> {
  using Storage = Text;
  static constexpr Type kType = Type::kText;
  static constexpr Passing kPassing = Passing::kVal;
};
template <>
struct ParamTraits<Text&> {
  using Storage = Text;
  static constexpr Type kType = Type::kText;
  static constexpr Passing kPassing = Passing::kRef;
};
template <>
struct ParamTraits<int32_t> {
  using Storage = int32_t;
  static constexpr Type kType = Type::kInt32;
  static constexpr Passing kPassing = Passing::kVal;
};
template <>
struct ParamTraits<int32_t&> {
  using Storage = int32_t;
  static constexpr Type kType = Type::kInt32;
  static constexpr Passing kPassing = Passing::kRef;
};
template <>
struct ParamTraits<int16_t> {
  using Storage = int16_t;
  static constexpr Type kType = Type::kInt16;
  static constexpr Passing kPassing = Passing::kVal;
};
template <>
struct ParamTraits<int16_t&> {
  using Storage = int16_t;
  static constexpr Type kType = Type::kInt16;
  static constexpr Passing kPassing = Passing::kRef;
};
template <>
struct ParamTraits<bool&> {
  using Storage = bool;
  static constexpr Type kType = Type::kBoolean;
  static constexpr Passing kPassing = Passing::kRef;
};

template <typename R>
constexpr Type ResultType() {
  if constexpr (std::is_same_v<R, bool>) {
    return Type::kBoolean;
  } else {
    static_assert(std::is_same_v<R, Text>);
    return Type::kText;
  }
}

template <typename M>
struct MemberTraits;
template <typename C, typename R, typename... P>
struct MemberTraits<R (C::*)(P...)> {
  using Class = C;
  using Result = R;
  using Params = std::tuple<P...>;
  static constexpr size_t kArity = sizeof...(P);
};

template <auto kMethod, typename C, typename... P, size_t... I>
Value CallWith(C* self, Value* args, std::tuple<P...>*,
               std::index_sequence<I...>) {
  return Value((self->*kMethod)(
      std::get<typename ParamTraits<P>::Storage>(args[I])...));
}

// Runs kMethod with arguments already converted to their declared types.
template <auto kMethod>
Value Thunk(void* self, Value* args) {
  using Traits = MemberTraits<decltype(kMethod)>;
  return CallWith<kMethod>(static_cast<typename Traits::Class*>(self), args,
                           static_cast<typename Traits::Params*>(nullptr),
                           std::make_index_sequence<Traits::kArity>());
}

template <typename... P>
std::vector<ParamInfo> MakeParams(std::tuple<P...>*,
                                  std::span<const TextView> names) {
  std::vector<ParamInfo> params;
  size_t i = 0;
  ((params.push_back(
       {names[i++], ParamTraits<P>::kType, ParamTraits<P>::kPassing})),
   ...);
  return params;
}

// One method entry; the parameter types and passing come from the C++
// signature, so the table cannot drift from the code.
template <auto kMethod, size_t N>
MethodInfo M(TextView name, const TextView (&names)[N]) {
  using Traits = MemberTraits<decltype(kMethod)>;
  static_assert(N == Traits::kArity, "one name per parameter");
  static_assert(N <= kMaxParams);
  return MethodInfo{name,
                    0,
                    0,
                    ResultType<typename Traits::Result>(),
                    MakeParams(static_cast<typename Traits::Params*>(nullptr),
                               std::span<const TextView>(names, N)),
                    &Thunk<kMethod>};
}

template <auto kMethod>
MethodInfo M(TextView name) {
  using Traits = MemberTraits<decltype(kMethod)>;
  static_assert(Traits::kArity == 0);
  return MethodInfo{name, 0, 0, ResultType<typename Traits::Result>(), {},
                    &Thunk<kMethod>};
}

template <typename C>
ClassInfo MakeClass(TextView name, TextView progid, TextView interface_name,
                    std::vector<MethodInfo> methods) {
  for (size_t i = 0; i < methods.size(); ++i) {
    methods[i].slot = static_cast<int>(i);
    methods[i].dispid = kFirstDispId + static_cast<int32_t>(i);
  }
  return ClassInfo{name,
                   progid,
                   interface_name,
                   std::move(methods),
                   []() -> void* { return new C(); },
                   [](void* p) { delete static_cast<C*>(p); }};
}

std::vector<ClassInfo> BuildTable() {
  std::vector<ClassInfo> classes;
  classes.push_back(MakeClass<Cell>(
      u"Cell", u"PellarLib.Cell", u"_Cell",
      {
          M<&Cell::Clear>(u"Clear", {u"Rows", u"Cols"}),
          M<&Cell::SaveValue>(u"SaveValue",
                              {u"Row", u"Col", u"sValue", u"Delimiter"}),
          M<&Cell::SaveFormat>(
              u"SaveFormat",
              {u"Row", u"Col", u"FormatProperty", u"FormatValue"}),
          M<&Cell::CopyFormat>(u"CopyFormat",
                               {u"FromRow", u"FromCol", u"StartRow",
                                u"StartCol", u"EndRow", u"EndCol"}),
          M<&Cell::GetValue>(u"GetValue", {u"Row", u"Col", u"Delimiter"}),
          M<&Cell::SaveFile>(u"SaveFile",
                             {u"Filename", u"Separator", u"MaxLines"}),
          M<&Cell::SaveWorkSheet>(
              u"SaveWorkSheet", {u"ControlFile", u"ExcelFilename", u"WorkSheet"}),
          M<&Cell::LoadFile>(u"LoadFile", {u"Filename", u"Seperator"}),
          M<&Cell::Pad>(u"Pad", {u"s", u"l"}),
          M<&Cell::FormatCSVData>(u"FormatCSVData", {u"s"}),
          M<&Cell::SetXMLTag>(u"SetXMLTag", {u"Col", u"Tag"}),
          M<&Cell::SaveXMLFile>(
              u"SaveXMLFile",
              {u"Filename", u"XMLDoc", u"XMLRecord", u"MaxLines"}),
          M<&Cell::Lookup>(u"Lookup", {u"Filename", u"KeyCol", u"Key",
                                       u"ColNo", u"Seperator"}),
      }));
  classes.push_back(MakeClass<UFL>(u"UFL", u"PellarLib.UFL", u"_UFL",
                                   {M<&UFL::Help>(u"Help", {u"HelpCommand"})}));
  const TextView kFtpParams[] = {u"BATFile",  u"TXTFile",    u"Site",
                                 u"User",     u"Password",   u"RemotePath",
                                 u"Filename", u"SendNow"};
  const TextView kFtpGetParams[] = {u"BATFile",  u"TXTFile",    u"Site",
                                    u"User",     u"Password",   u"RemotePath",
                                    u"Filename", u"GetNow"};
  classes.push_back(MakeClass<FTP>(u"FTP", u"PellarLib.FTP", u"_FTP",
                                   {
                                       M<&FTP::SendFile>(u"SendFile", kFtpParams),
                                       M<&FTP::GetFile>(u"GetFile", kFtpGetParams),
                                   }));
  classes.push_back(MakeClass<File>(
      u"File", u"PellarLib.File", u"_File",
      {
          M<&File::Exists>(u"Exists", {u"sFile"}),
          M<&File::Delete>(u"Delete", {u"sFile"}),
          M<&File::Rename>(u"Rename", {u"sFrom", u"sTo"}),
          M<&File::Copy>(u"Copy", {u"sFrom", u"sTo"}),
          M<&File::Move>(u"Move", {u"sFrom", u"sTo"}),
      }));
  classes.push_back(MakeClass<Folder>(
      u"Folder", u"PellarLib.Folder", u"_Folder",
      {
          M<&Folder::Create>(u"Create", {u"sFolder"}),
          M<&Folder::Exists>(u"Exists", {u"sFolder"}),
          M<&Folder::Rename>(u"Rename", {u"sFrom", u"sTo"}),
      }));
  const TextView kOutboxParams[] = {u"Outbox", u"Server",     u"MsgFrom",
                                    u"MsgTo",  u"MsgSubject", u"MsgID"};
  const TextView kOutboxAttachParams[] = {
      u"Outbox",     u"Server", u"MsgFrom",       u"MsgTo",
      u"MsgSubject", u"MsgID",  u"MsgAttachCount"};
  classes.push_back(MakeClass<Email>(
      u"Email", u"PellarLib.Email", u"_Email",
      {
          M<&Email::Clear>(u"Clear"),
          M<&Email::Body>(u"Body", {u"s"}),
          M<&Email::BodyFile>(u"BodyFile", {u"Filename"}),
          M<&Email::HTML>(u"HTML", {u"s"}),
          M<&Email::HTMLFile>(u"HTMLFile", {u"SourceFilename"}),
          M<&Email::HTMLFilePreview>(u"HTMLFilePreview", {u"OutputFile"}),
          M<&Email::Attach>(u"Attach", {u"Filename"}),
          M<&Email::Edit>(u"Edit", {u"Find", u"Replace"}),
          M<&Email::EditFile>(u"EditFile", {u"Find", u"ReplaceFile"}),
          M<&Email::SaveOutbox>(u"SaveOutbox", kOutboxParams),
          M<&Email::SaveOutboxWithAttachments>(u"SaveOutboxWithAttachments",
                                               kOutboxAttachParams),
          M<&Email::SetServerLogin>(u"SetServerLogin", {u"sUser", u"sPassword"}),
          M<&Email::AddTag>(u"AddTag", {u"TagName", u"TagValue"}),
          M<&Email::Command>(u"Command", {u"TagName", u"TagValue"}),
          M<&Email::SendOutbox>(u"SendOutbox", {u"Outbox", u"MailProgram"}),
      }));
  classes.push_back(MakeClass<Table>(
      u"Table", u"PellarLib.Table", u"_Table",
      {
          M<&Table::Clear>(u"Clear"),
          M<&Table::BuildNew>(u"BuildNew", {u"Rows", u"Cols"}),
          M<&Table::LoadCell>(u"LoadCell",
                              {u"Row", u"Col", u"StringValue", u"CellFormat"}),
          M<&Table::AppendCell>(u"AppendCell",
                                {u"Row", u"Col", u"StringValue"}),
          M<&Table::Save>(u"Save", {u"ReplaceTag", u"TableFormat"}),
      }));
  return classes;
}

bool HoldsType(const Value& value, Type type) {
  switch (type) {
    case Type::kText: return std::holds_alternative<Text>(value);
    case Type::kInt32: return std::holds_alternative<int32_t>(value);
    case Type::kInt16: return std::holds_alternative<int16_t>(value);
    case Type::kBoolean: return std::holds_alternative<bool>(value);
  }
  return false;
}

// Moves `from`, which holds `type`, into `to` without a generic variant
// visit: this is the hot path of every call that passes variables.
void MoveSame(Value& from, Value& to, Type type) {
  switch (type) {
    case Type::kText:
      if (Text* t = std::get_if<Text>(&to)) {
        *t = std::move(std::get<Text>(from));
      } else {
        to.emplace<Text>(std::move(std::get<Text>(from)));
      }
      return;
    case Type::kInt32: to.emplace<int32_t>(std::get<int32_t>(from)); return;
    case Type::kInt16: to.emplace<int16_t>(std::get<int16_t>(from)); return;
    case Type::kBoolean: to.emplace<bool>(std::get<bool>(from)); return;
  }
}

// Whether another argument refers to the same variable as argument i.
bool Aliased(std::span<Arg> args, size_t i) {
  for (size_t k = 0; k < args.size(); ++k) {
    if (k != i && args[k].ref == args[i].ref) return true;
  }
  return false;
}

}  // namespace

const std::vector<ClassInfo>& Classes() {
  static const std::vector<ClassInfo> table = BuildTable();
  return table;
}

const ClassInfo* FindClass(TextView progid) {
  for (const ClassInfo& cls : Classes()) {
    if (EqualsIgnoreCase(cls.progid, progid)) return &cls;
  }
  return nullptr;
}

const MethodInfo* FindMethod(const ClassInfo& cls, TextView name) {
  for (const MethodInfo& method : cls.methods) {
    if (EqualsIgnoreCase(method.name, name)) return &method;
  }
  return nullptr;
}

const MethodInfo* FindMethod(const ClassInfo& cls, int32_t dispid) {
  int64_t slot = int64_t{dispid} - kFirstDispId;
  if (slot < 0 || slot >= static_cast<int64_t>(cls.methods.size())) {
    return nullptr;
  }
  return &cls.methods[static_cast<size_t>(slot)];
}

std::unique_ptr<Object> Object::Create(TextView progid) {
  const ClassInfo* cls = FindClass(progid);
  if (cls == nullptr) throw Failure(error::kCannotCreateObject);
  return std::make_unique<Object>(*cls);
}

Object::Object(const ClassInfo& cls) : cls_(&cls), self_(cls.create()) {}

Object::~Object() { cls_->destroy(self_); }

Value Invoke(Object& object, const MethodInfo& method, std::span<Arg> args) {
  const size_t n = method.params.size();
  if (args.size() != n) throw Failure(error::kWrongArgumentCount);

  // The declared-type values the method works on. A ref argument whose
  // variable already holds the declared type is moved in and moved back
  // afterwards instead of copied twice, unless the same variable is passed
  // more than once.
  std::array<Value, kMaxParams> converted;
  std::array<bool, kMaxParams> borrowed{};
  bool ran = false;
  struct WriteBack {
    const MethodInfo& method;
    std::span<Arg> args;
    std::array<Value, kMaxParams>& values;
    std::array<bool, kMaxParams>& borrowed;
    bool& ran;
    // Borrowed variables always get their value back; converted ones only
    // once the method ran (a failed conversion changes nothing). Ref
    // parameters reach the caller whether the method answered or failed:
    // work done before a failure stays visible.
    ~WriteBack() {
      for (size_t i = 0; i < method.params.size(); ++i) {
        if (borrowed[i]) {
          MoveSame(values[i], *args[i].ref, method.params[i].type);
        } else if (ran && method.params[i].passing == Passing::kRef &&
                   args[i].ref) {
          *args[i].ref = std::move(values[i]);
        }
      }
    }
  } write_back{method, args, converted, borrowed, ran};

  for (size_t i = 0; i < n; ++i) {
    const ParamInfo& param = method.params[i];
    Value* ref = args[i].ref;
    if (ref != nullptr && param.passing == Passing::kRef &&
        HoldsType(*ref, param.type) && !Aliased(args, i)) {
      MoveSame(*ref, converted[i], param.type);
      borrowed[i] = true;
      continue;
    }
    try {
      converted[i] = ConvertTo(args[i].get(), param.type);
    } catch (const Failure& failure) {
      throw ArgumentFailure(failure, static_cast<int>(i));
    }
  }
  ran = true;
  return method.call(object.self(), converted.data());
}

Value Invoke(Object& object, TextView method, std::span<Arg> args) {
  const MethodInfo* info = FindMethod(object.cls(), method);
  if (info == nullptr) throw Failure(error::kNoSuchMethod);
  return Invoke(object, *info, args);
}

}  // namespace pellar
