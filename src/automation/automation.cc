#include <pellar/automation/automation.h>

#include <array>
#include <new>
#include <stdexcept>
#include <tuple>
#include <type_traits>
#include <utility>

#include <pellar/base/failure_internal.h>
#include <pellar/base/text_internal.h>
#include <pellar/files/file.h>
#include <pellar/files/folder.h>
#include <pellar/files/ftp.h>
#include <pellar/mail/email.h>
#include <pellar/table/table.h>
#include <pellar/ufl/ufl.h>
#include <pellar/workarea/cell.h>

namespace pellar {
namespace {

// The widest method (FTP.SendFile) takes eight arguments.
constexpr size_t kMaxParams = 8;

// How a C++ parameter type appears to automation (its declared type and
// passing), and how an argument is bound to it. Bind() converts; the
// variable of a ref argument that already holds the declared type is bound
// directly, so the method changes the caller's variable in place with no
// copy (two ref parameters given the same variable then share it, as
// automation references do). A converted ref argument is written back in
// its declared type by WriteBack().
template <typename P>
struct Binder;

template <>
struct Binder<const Text&> {
  static constexpr Type kType = Type::kText;
  static constexpr Passing kPassing = Passing::kVal;
  const Text* target = nullptr;
  Text temp;
  void Bind(const Arg& arg) {
    if (const Text* t = std::get_if<Text>(&arg.get())) {
      target = t;
    } else {
      temp = ToText(arg.get());
      target = &temp;
    }
  }
  const Text& get() { return *target; }
  void WriteBack() {}
};

template <>
struct Binder<Text&> {
  static constexpr Type kType = Type::kText;
  static constexpr Passing kPassing = Passing::kRef;
  Text* target = nullptr;
  Value* variable = nullptr;  // set when converted
  Text temp;
  void Bind(const Arg& arg) {
    if (arg.ref != nullptr) {
      if (Text* t = std::get_if<Text>(arg.ref)) {
        target = t;
        return;
      }
      variable = arg.ref;
    }
    temp = ToText(arg.get());
    target = &temp;
  }
  Text& get() { return *target; }
  void WriteBack() {
    if (variable != nullptr) *variable = std::move(temp);
  }
};

template <typename T, Type kDeclared>
struct ScalarValBinder {
  static constexpr Type kType = kDeclared;
  static constexpr Passing kPassing = Passing::kVal;
  T value{};
  void Bind(const Arg& arg) {
    const T* same = std::get_if<T>(&arg.get());
    value = same ? *same : std::get<T>(ConvertTo(arg.get(), kDeclared));
  }
  T get() { return value; }
  void WriteBack() {}
};

template <typename T, Type kDeclared>
struct ScalarRefBinder {
  static constexpr Type kType = kDeclared;
  static constexpr Passing kPassing = Passing::kRef;
  T value{};
  Value* variable = nullptr;
  void Bind(const Arg& arg) {
    const T* same = std::get_if<T>(&arg.get());
    value = same ? *same : std::get<T>(ConvertTo(arg.get(), kDeclared));
    variable = arg.ref;
  }
  T& get() { return value; }
  void WriteBack() {
    if (variable != nullptr) variable->emplace<T>(value);
  }
};

template <>
struct Binder<int32_t> : ScalarValBinder<int32_t, Type::kInt32> {};
template <>
struct Binder<int32_t&> : ScalarRefBinder<int32_t, Type::kInt32> {};
template <>
struct Binder<int16_t> : ScalarValBinder<int16_t, Type::kInt16> {};
template <>
struct Binder<int16_t&> : ScalarRefBinder<int16_t, Type::kInt16> {};
template <>
struct Binder<bool&> : ScalarRefBinder<bool, Type::kBoolean> {};

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
Value CallWith(C* self, std::span<Arg> args, std::tuple<P...>*,
               std::index_sequence<I...>) {
  std::tuple<Binder<P>...> binders;
  // Convert every argument before the method runs; a failure names the
  // argument and changes nothing.
  [[maybe_unused]] auto bind = [&](auto& binder, size_t i) {
    try {
      binder.Bind(args[i]);
    } catch (const Failure& failure) {
      throw ArgumentFailure(failure, static_cast<int>(i));
    }
  };
  (bind(std::get<I>(binders), I), ...);
  // Converted ref arguments reach the caller whether the method answers or
  // fails: work done before a failure stays visible.
  struct WriteBack {
    std::tuple<Binder<P>...>& binders;
    ~WriteBack() { (std::get<I>(binders).WriteBack(), ...); }
  } write_back{binders};
  return Value((self->*kMethod)(std::get<I>(binders).get()...));
}

// Runs kMethod on `self` with `args` bound to its parameters.
template <auto kMethod>
Value Thunk(void* self, std::span<Arg> args) {
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
       {names[i++], Binder<P>::kType, Binder<P>::kPassing})),
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
          M<&Table::GetText>(u"GetText"),
      }));
  return classes;
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
  // Scripts mostly spell names as declared: try the exact match first.
  for (const MethodInfo& method : cls.methods) {
    if (method.name == name) return &method;
  }
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
  if (args.size() != method.params.size()) {
    throw Failure(error::kWrongArgumentCount);
  }
  // Every failure reaches the caller with a number, running out of memory
  // (a text or a line too long to hold) included.
  try {
    return method.call(object.self(), args);
  } catch (const Failure&) {
    throw;  // as it is: an ArgumentFailure keeps its argument
  } catch (...) {
    throw CaughtFailure();
  }
}

Value Invoke(Object& object, TextView method, std::span<Arg> args) {
  const MethodInfo* info = FindMethod(object.cls(), method);
  if (info == nullptr) throw Failure(error::kNoSuchMethod);
  return Invoke(object, *info, args);
}

}  // namespace pellar
