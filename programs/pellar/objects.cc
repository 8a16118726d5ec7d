#include "objects.h"

#include <pellar/automation/automation.h>
#include <pellar/base/number.h>
#include <pellar/base/text_internal.h>
#include <pellar/base/value.h>
#include <pellar/platform/platform.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "host.h"
#include "regexp.h"

namespace pellar::script {

[[noreturn]] void NoMember() { Raise(error::kNoSuchMethod); }

void ArgCount(Args args, size_t lo, size_t hi) {
  if (args.size() < lo || args.size() > hi) Raise(error::kWrongArgumentCount);
}

Var Own(ScriptObject* object) {
  Var v = Var::Object(object);
  --object->refs;
  return v;
}

int32_t TableObject::FindMember(std::string_view name) const {
  auto lower = [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
  };
  const std::span<const std::string_view> names = Names();
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string_view known = names[i];
    if (known.size() != name.size()) continue;
    size_t k = 0;
    while (k < name.size() && lower(name[k]) == known[k]) ++k;
    if (k == name.size()) return static_cast<int32_t>(i);
  }
  return -1;
}

Var ItemList::InvokeResolved(Host&, int32_t member, std::string_view, Args args,
                             CallKind kind) {
  if (kind == CallKind::kLet || kind == CallKind::kSet) NoMember();
  if (member == Id("count")) {
    ArgCount(args, 0, 0);
    return Var::Long(static_cast<int32_t>(items_.size()));
  }
  if (member == Id("") || member == Id("item")) {
    ArgCount(args, 1, 1);
    const int32_t i = ToLong(*args[0]);
    if (i < 0 || static_cast<size_t>(i) >= items_.size()) Raise(bad_index_);
    return items_[static_cast<size_t>(i)];
  }
  NoMember();
}

bool ItemList::Enumerate(std::vector<Var>& out) {
  out.insert(out.end(), items_.begin(), items_.end());
  return true;
}

namespace {

const Text kLibrarySource = u"PellarLib";


void WriteUtf8(std::ostream& stream, TextView text) {
  std::string bytes = ToUtf8(text);
  stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// ---- library classes --------------------------------------------------------

Value ToValue(const Var& v) {
  switch (v.type()) {
    case VType::kEmpty:
      return std::monostate{};
    case VType::kInteger:
    case VType::kByte:
      return static_cast<int16_t>(v.raw_long());
    case VType::kLong:
      return v.raw_long();
    case VType::kDouble:
    case VType::kSingle:
    case VType::kCurrency:
      return ToDouble(v);
    case VType::kBoolean:
      return v.raw_long() != 0;
    case VType::kString:
      return v.str();
    case VType::kDate:
      return DateText(v.raw_double());
    case VType::kNull:
      Raise(error::kInvalidNull);
    default:
      Raise(error::kTypeMismatch);
  }
}

Var FromValue(const Value& v) {
  switch (v.index()) {
    case 0:
      return Var();
    case 1:
      return Var::Integer(std::get<int16_t>(v));
    case 2:
      return Var::Long(std::get<int32_t>(v));
    case 3:
      return Var::Double(std::get<double>(v));
    case 4:
      return Var::Bool(std::get<bool>(v));
    default:
      return Var::String(std::get<Text>(v));
  }
}

class LibraryObject final : public ScriptObject {
 public:
  explicit LibraryObject(std::unique_ptr<Object> object)
      : object_(std::move(object)) {}
  Text TypeName() const override { return Text(object_->cls().name); }
  Var Invoke(Host& in, std::string_view name, Args args,
             CallKind kind) override {
    return InvokeResolved(in, FindMember(name), name, args, kind);
  }
  const void* MemberTable() const override { return &object_->cls(); }
  int32_t FindMember(std::string_view name) const override {
    const MethodInfo* method =
        FindMethod(object_->cls(), Text(name.begin(), name.end()));
    if (method == nullptr) return -1;
    return static_cast<int32_t>(method - object_->cls().methods.data());
  }
  Var InvokeResolved(Host&, int32_t member, std::string_view name, Args args,
                     CallKind kind) override {
    // A library object has no default value and no properties.
    if (name.empty()) Raise(error::kTypeMismatch);
    if (kind == CallKind::kLet || kind == CallKind::kSet) NoMember();
    if (member < 0)
      throw ScriptFailure(Failure(error::kNoSuchMethod), kLibrarySource);
    const MethodInfo* method =
        &object_->cls().methods[static_cast<size_t>(member)];
    std::vector<Value> values;
    values.reserve(args.size());
    for (Var* arg : args) {
      if (arg->is_object()) Raise(error::kTypeMismatch);
      values.push_back(ToValue(*arg));
    }
    std::vector<Arg> call;
    call.reserve(values.size());
    for (Value& value : values) call.push_back(Arg::Ref(value));
    auto write_back = [&] {
      if (args.size() != method->params.size()) return;
      for (size_t i = 0; i < args.size(); ++i) {
        if (method->params[i].passing == Passing::kRef)
          *args[i] = FromValue(values[i]);
      }
    };
    Value result;
    try {
      result = pellar::Invoke(*object_, *method, call);
    } catch (const Failure& failure) {
      write_back();
      throw ScriptFailure(failure, kLibrarySource);
    }
    write_back();
    return FromValue(result);
  }

 private:
  std::unique_ptr<Object> object_;
};

// ---- Err
// ----------------------------------------------------------------------

class ErrObject final : public TableObject {
  static constexpr std::array<std::string_view, 8> kNames = {
      "",      "number", "description", "source",
      "clear", "raise",  "helpfile",    "helpcontext"};
  static consteval int32_t Id(std::string_view name) {
    return MemberId(kNames, name);
  }
  std::span<const std::string_view> Names() const override { return kNames; }

 public:
  Text TypeName() const override { return u"Object"; }
  Var InvokeResolved(Host& in, int32_t member, std::string_view, Args args,
                     CallKind kind) override {
    ErrState& e = in.error();
    const bool let = kind == CallKind::kLet;
    if (member == Id("") || member == Id("number")) {
      if (let) {
        e.number = ToLong(*args.back());
        return Var();
      }
      ArgCount(args, 0, 0);
      return Var::Long(e.number);
    }
    if (member == Id("description")) {
      if (let) {
        e.description = ToStr(*args.back());
        return Var();
      }
      return Var::String(e.description);
    }
    if (member == Id("source")) {
      if (let) {
        e.source = ToStr(*args.back());
        return Var();
      }
      return Var::String(e.source);
    }
    if (member == Id("clear")) {
      ArgCount(args, 0, 0);
      e.Clear();
      return Var();
    }
    if (member == Id("raise")) {
      ArgCount(args, 1, 5);
      int32_t number = ToLong(*args[0]);
      if (number <= 0 || number > 65535) {
        if (number > -2147221504 + 65535 || number < -2147221504)
          Raise(error::kInvalidCall);
      }
      Text source = args.size() > 1 && !args[1]->is_empty()
                        ? ToStr(*args[1])
                        : Text(u"Microsoft VBScript runtime error");
      Text description = args.size() > 2 && !args[2]->is_empty()
                             ? ToStr(*args[2])
                         : number > 0 ? Text(Describe(number))
                                      : Text();
      if (args.size() <= 2 && number > 0 && description == Describe(999999)) {
        description = u"Unknown runtime error";
      }
      throw ScriptFailure(Failure(number, description), source);
    }
    if (member == Id("helpfile") || member == Id("helpcontext")) return Var();
    NoMember();
  }
};

// ---- WScript
// ------------------------------------------------------------------

class StdStream final : public TableObject {
  static constexpr std::array<std::string_view, 4> kNames = {
      "write", "writeline", "writeblanklines", "close"};
  static consteval int32_t Id(std::string_view name) {
    return MemberId(kNames, name);
  }
  std::span<const std::string_view> Names() const override { return kNames; }

 public:
  explicit StdStream(bool error) : error_(error) {}
  Text TypeName() const override { return u"TextStream"; }
  Var InvokeResolved(Host& in, int32_t member, std::string_view, Args args,
                     CallKind) override {
    std::ostream& stream = error_ ? in.err() : in.out();
    if (member == Id("write")) {
      ArgCount(args, 1, 1);
      WriteUtf8(stream, ToStr(in.DefaultValue(*args[0])));
      return Var();
    }
    if (member == Id("writeline")) {
      ArgCount(args, 0, 1);
      if (!args.empty()) WriteUtf8(stream, ToStr(in.DefaultValue(*args[0])));
      stream << '\n';
      return Var();
    }
    if (member == Id("writeblanklines")) {
      ArgCount(args, 1, 1);
      for (int32_t i = ToLong(*args[0]); i > 0; --i) stream << '\n';
      return Var();
    }
    if (member == Id("close")) return Var();
    NoMember();
  }

 private:
  bool error_;
};

// WScript.Arguments.Named: the arguments "/name:value" ("/name" alone has
// an Empty value), found by name in any case.
class NamedArguments final : public TableObject {
  static constexpr std::array<std::string_view, 5> kNames = {
      "", "count", "length", "item", "exists"};
  static consteval int32_t Id(std::string_view name) {
    return MemberId(kNames, name);
  }
  std::span<const std::string_view> Names() const override { return kNames; }

 public:
  explicit NamedArguments(const std::vector<Text>& all) {
    for (const Text& argument : all) {
      if (argument.empty() || argument[0] != u'/') continue;
      const size_t colon = argument.find(u':');
      Text key =
          argument.substr(1, colon == Text::npos ? Text::npos : colon - 1);
      Var value =
          colon == Text::npos ? Var() : Var::String(argument.substr(colon + 1));
      names_.push_back(key);
      values_.push_back(std::move(value));
    }
  }
  Text TypeName() const override { return u"Object"; }
  Var InvokeResolved(Host&, int32_t member, std::string_view, Args args,
                     CallKind) override {
    if (member == Id("count") || member == Id("length")) {
      ArgCount(args, 0, 0);
      return Var::Long(static_cast<int32_t>(names_.size()));
    }
    if (member == Id("") || member == Id("item") || member == Id("exists")) {
      ArgCount(args, 1, 1);
      const Text key = ToStr(*args[0]);
      for (size_t i = 0; i < names_.size(); ++i) {
        if (EqualsIgnoreCase(names_[i], key))
          return member == Id("exists") ? Var::Bool(true) : values_[i];
      }
      return member == Id("exists") ? Var::Bool(false) : Var();
    }
    NoMember();
  }
  bool Enumerate(std::vector<Var>& out) override {
    for (const Text& t : names_) out.push_back(Var::String(t));
    return true;
  }

 private:
  std::vector<Text> names_;
  std::vector<Var> values_;
};

class ArgumentsList final : public TableObject {
  static constexpr std::array<std::string_view, 6> kNames = {
      "", "named", "unnamed", "count", "length", "item"};
  static consteval int32_t Id(std::string_view name) {
    return MemberId(kNames, name);
  }
  std::span<const std::string_view> Names() const override { return kNames; }

 public:
  explicit ArgumentsList(std::vector<Text> list) : list_(std::move(list)) {}
  Text TypeName() const override { return u"Object"; }
  Var InvokeResolved(Host& in, int32_t member, std::string_view, Args args,
                     CallKind kind) override {
    if (member == Id("named") || member == Id("unnamed")) {
      Var part;
      if (member == Id("named")) {
        part = Own(new NamedArguments(list_));
      } else {
        std::vector<Text> unnamed;
        for (const Text& t : list_) {
          if (t.empty() || t[0] != u'/') unnamed.push_back(t);
        }
        part = Own(new ArgumentsList(std::move(unnamed)));
      }
      if (!args.empty()) return part.object()->Invoke(in, "", args, kind);
      return part;
    }
    if (member == Id("count") || member == Id("length"))
      return Var::Long(static_cast<int32_t>(list_.size()));
    if (member == Id("") || member == Id("item")) {
      ArgCount(args, 1, 1);
      int32_t i = ToLong(*args[0]);
      if (i < 0 || static_cast<size_t>(i) >= list_.size())
        Raise(error::kSubscriptOutOfRange);
      return Var::String(list_[static_cast<size_t>(i)]);
    }
    NoMember();
  }
  bool Enumerate(std::vector<Var>& out) override {
    for (const Text& t : list_) out.push_back(Var::String(t));
    return true;
  }

 private:
  std::vector<Text> list_;
};

class WScriptObject final : public TableObject {
  static constexpr std::array<std::string_view, 13> kNames = {
      "echo",     "quit",  "arguments",   "scriptname", "scriptfullname",
      "fullname", "path",  "name",        "version",    "stdout",
      "stderr",   "sleep", "createobject"};
  static consteval int32_t Id(std::string_view name) {
    return MemberId(kNames, name);
  }
  std::span<const std::string_view> Names() const override { return kNames; }

 public:
  Text TypeName() const override { return u"Object"; }
  Var InvokeResolved(Host& in, int32_t member, std::string_view, Args args,
                     CallKind) override {
    if (member == Id("echo")) {
      // Everything is evaluated first: a failing argument prints nothing.
      Text line;
      for (size_t i = 0; i < args.size(); ++i) {
        if (i > 0) line += u' ';
        Var v = *args[i];
        if (v.is_object()) {
          // Only an object with a default value prints; others are 13.
          try {
            v = in.DefaultValue(v);
          } catch (const Failure& failure) {
            if (failure.number() == error::kNoSuchMethod)
              Raise(error::kTypeMismatch);
            throw;
          }
        }
        line += EchoText(v);
      }
      WriteUtf8(in.out(), line);
      in.out() << '\n';
      return Var();
    }
    if (member == Id("quit")) {
      ArgCount(args, 0, 1);
      throw QuitSignal{args.empty() ? 0 : ToLong(*args[0])};
    }
    if (member == Id("arguments")) {
      ArgCount(args, 0, 1);
      Var list = Var::Object(new ArgumentsList(in.options().arguments));
      list.object()->refs--;  // Var::Object took its own reference
      if (!args.empty())
        return list.object()->Invoke(in, "", args, CallKind::kGet);
      return list;
    }
    if (member == Id("scriptname") || member == Id("scriptfullname"))
      return Var::String(in.script_name());
    if (member == Id("fullname") || member == Id("path")) {
      const Text& host = in.options().host_path;
      if (member == Id("fullname")) return Var::String(host);
      const size_t slash = host.find_last_of(u"/\\");
      return Var::String(slash == Text::npos ? Text() : host.substr(0, slash));
    }
    if (member == Id("name")) return Var::String(u"Windows Script Host");
    if (member == Id("version")) return Var::String(u"5.812");
    if (member == Id("stdout") || member == Id("stderr")) {
      Var stream = Var::Object(new StdStream(member == Id("stderr")));
      stream.object()->refs--;
      return stream;
    }
    if (member == Id("sleep")) {
      ArgCount(args, 1, 1);
      int32_t ms = ToLong(*args[0]);
      if (ms < 0) Raise(error::kInvalidCall);
      if (in.options().sleep)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
      return Var();
    }
    if (member == Id("createobject")) {
      ArgCount(args, 1, 2);
      return in.CreateObject(ToStr(*args[0]));
    }
    NoMember();
  }
};

// ---- Scripting.Dictionary
// -----------------------------------------------------

class Dictionary final : public TableObject {
  static constexpr std::array<std::string_view, 11> kNames = {
      "",     "item",  "add",   "exists",      "remove", "removeall",
      "keys", "items", "count", "comparemode", "key"};
  static consteval int32_t Id(std::string_view name) {
    return MemberId(kNames, name);
  }
  std::span<const std::string_view> Names() const override { return kNames; }

 public:
  explicit Dictionary(Host& in) : in_(in) { in_.containers().insert(this); }
  ~Dictionary() override { in_.containers().erase(this); }
  Text TypeName() const override { return u"Dictionary"; }
  void Drop() override {
    keys_.clear();
    items_.clear();
    index_.clear();
    key_chars_ = 0;
    Recharge();
  }
  bool Enumerate(std::vector<Var>& out) override {
    out = keys_;
    return true;
  }

  Var InvokeResolved(Host&, int32_t member, std::string_view, Args args,
                     CallKind kind) override {
    const bool assign = kind == CallKind::kLet || kind == CallKind::kSet;
    if (member == Id("") || member == Id("item")) {
      if (assign) {
        ArgCount(args, 2, 2);
        Put(*args[0], *args[1]);
        return Var();
      }
      ArgCount(args, 1, 1);
      Text key = KeyOf(*args[0]);
      auto it = index_.find(key);
      if (it == index_.end()) {
        // Reading a missing key adds it, empty.
        Insert(std::move(key), *args[0], Var());
        return Var();
      }
      return items_[it->second];
    }
    if (member == Id("add")) {
      ArgCount(args, 2, 2);
      Text key = KeyOf(*args[0]);
      if (index_.count(key)) Raise(error::kKeyExists);
      Insert(std::move(key), *args[0], *args[1]);
      return Var();
    }
    if (member == Id("exists")) {
      ArgCount(args, 1, 1);
      return Var::Bool(index_.count(KeyOf(*args[0])) != 0);
    }
    if (member == Id("remove")) {
      ArgCount(args, 1, 1);
      auto it = index_.find(KeyOf(*args[0]));
      if (it == index_.end()) Raise(error::kKeyNotFound);
      size_t at = it->second;
      key_chars_ -= it->first.size();
      keys_.erase(keys_.begin() + static_cast<ptrdiff_t>(at));
      items_.erase(items_.begin() + static_cast<ptrdiff_t>(at));
      Reindex();
      Recharge();
      return Var();
    }
    if (member == Id("removeall")) {
      ArgCount(args, 0, 0);
      Drop();
      return Var();
    }
    if (member == Id("keys")) return NewArray(keys_);
    if (member == Id("items")) return NewArray(items_);
    if (member == Id("count"))
      return Var::Long(static_cast<int32_t>(keys_.size()));
    if (member == Id("comparemode")) {
      if (assign) {
        int32_t mode = ToLong(*args.back());
        if (!keys_.empty() || mode < 0) Raise(error::kInvalidCall);
        text_mode_ = mode == 1;
        return Var();
      }
      return Var::Long(text_mode_ ? 1 : 0);
    }
    if (member == Id("key") && assign) {
      ArgCount(args, 2, 2);
      auto it = index_.find(KeyOf(*args[0]));
      if (it == index_.end()) Raise(error::kKeyNotFound);
      Text fresh = KeyOf(*args[1]);
      if (index_.count(fresh)) Raise(error::kKeyExists);
      CheckTextLength(fresh.size());
      key_chars_ += fresh.size() - it->first.size();
      keys_[it->second] = *args[1];
      Reindex();
      Recharge();
      return Var();
    }
    NoMember();
  }

 private:
  // Keys of different subtypes differ, except that numbers compare by value.
  Text KeyOf(const Var& v) const {
    switch (v.type()) {
      case VType::kString:
        return u"s" + (text_mode_ ? Lower(v.str()) : v.str());
      case VType::kEmpty:
        return u"e";
      case VType::kNull:
        return u"n";
      case VType::kObject: {
        auto p = reinterpret_cast<uintptr_t>(v.object());
        return u"o" + Decimal(static_cast<int64_t>(p));
      }
      case VType::kArray:
        Raise(error::kTypeMismatch);
      case VType::kDate:
        return u"d" + DoubleText(v.raw_double());
      default:
        return u"#" + DoubleText(ToDouble(v));
    }
  }
  void Insert(Text key, const Var& k, Var item) {
    // Charged first: a dictionary that would pass the budget stays as it
    // was.
    Charge(Bytes(keys_.size() + 1, key_chars_ + key.size()));
    key_chars_ += key.size();
    index_.emplace(std::move(key), keys_.size());
    keys_.push_back(k);
    items_.push_back(std::move(item));
  }
  // An entry's share: key and item, the index's node and its key text.
  static size_t Bytes(size_t entries, size_t key_chars) {
    constexpr size_t kEntry =
        2 * sizeof(Var) + sizeof(std::pair<Text, size_t>) + 2 * sizeof(void*);
    return sizeof(Dictionary) + entries * kEntry + key_chars * sizeof(char16_t);
  }
  void Recharge() { Charge(Bytes(keys_.size(), key_chars_)); }
  void Put(const Var& k, const Var& item) {
    Text key = KeyOf(k);
    auto it = index_.find(key);
    if (it == index_.end()) {
      Insert(std::move(key), k, item);
    } else {
      items_[it->second] = item;
    }
  }
  void Reindex() {
    index_.clear();
    for (size_t i = 0; i < keys_.size(); ++i)
      index_.emplace(KeyOf(keys_[i]), i);
  }

  Host& in_;
  bool text_mode_ = false;
  size_t key_chars_ = 0;  // of the index's keys
  std::vector<Var> keys_;
  std::vector<Var> items_;
  std::unordered_map<Text, size_t> index_;
};

}  // namespace

Var MakeWScript(Host&) { return Own(new WScriptObject); }

Var MakeErrObject(Host&) { return Own(new ErrObject); }

Var CreateScriptObject(Host& in, const Text& progid) {
  if (EqualsIgnoreCase(progid, u"Scripting.Dictionary"))
    return Own(new Dictionary(in));
  if (EqualsIgnoreCase(progid, u"VBScript.RegExp")) return MakeRegExp();
  if (EqualsIgnoreCase(progid, u"WScript.Shell")) return MakeShell();
  if (EqualsIgnoreCase(progid, u"Scripting.FileSystemObject")) {
    return MakeFileSystemObject();
  }
  try {
    return Own(new LibraryObject(Object::Create(progid)));
  } catch (const Failure& failure) {
    throw ScriptFailure(failure, kLibrarySource);
  }
}

}  // namespace pellar::script
