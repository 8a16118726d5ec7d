// The objects a script gets besides the library's: WScript, Err,
// Scripting.Dictionary, Scripting.FileSystemObject (filesystem.cc) and the
// wrapper that calls library classes through Invoke.
#ifndef PELLAR_HOST_OBJECTS_H_
#define PELLAR_HOST_OBJECTS_H_

#include <pellar/base/text.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "variant.h"

namespace pellar::script {

// What the host's objects share: 438 for a member an object lacks, 450 for
// a call with a wrong count, and a new object as a value holding its one
// reference.
[[noreturn]] void NoMember();
void ArgCount(Args args, size_t lo, size_t hi);
Var Own(ScriptObject* object);

// A host object whose members are numbered by one table per class of lower
// case names ("" is the default member): a call site looks a name up once,
// and a call by name is the same call after one look-up.
class TableObject : public ScriptObject {
 public:
  Var Invoke(Host& in, std::string_view name, Args args, CallKind kind) final {
    return InvokeResolved(in, FindMember(name), name, args, kind);
  }
  const void* MemberTable() const final { return Names().data(); }
  int32_t FindMember(std::string_view name) const final;

 protected:
  virtual std::span<const std::string_view> Names() const = 0;
};

// The number of member `name` in `names`; a name not there does not compile.
template <size_t N>
consteval int32_t MemberId(const std::array<std::string_view, N>& names,
                           std::string_view name) {
  for (size_t i = 0; i < N; ++i) {
    if (names[i] == name) return static_cast<int32_t>(i);
  }
  throw "no such member";
}

// A read-only collection: Count, Item(i) counted from 0 (the default
// member; `bad_index` past the ends) and For Each.
class ItemList final : public TableObject {
 public:
  ItemList(Text type_name, std::vector<Var> items, int bad_index)
      : type_name_(std::move(type_name)),
        items_(std::move(items)),
        bad_index_(bad_index) {}
  Text TypeName() const override { return type_name_; }
  Var InvokeResolved(Host& in, int32_t member, std::string_view name, Args args,
                     CallKind kind) override;
  bool Enumerate(std::vector<Var>& out) override;

 private:
  static constexpr std::array<std::string_view, 3> kNames = {"", "count",
                                                             "item"};
  static consteval int32_t Id(std::string_view name) {
    return MemberId(kNames, name);
  }
  std::span<const std::string_view> Names() const override { return kNames; }

  Text type_name_;
  std::vector<Var> items_;
  int bad_index_;
};

Var MakeWScript(Host& in);
// WScript.Shell.
Var MakeShell();
// Scripting.FileSystemObject.
Var MakeFileSystemObject();
Var MakeErrObject(Host& in);
// CreateObject: the scripting objects by name, else a library class.
Var CreateScriptObject(Host& in, const Text& progid);

}  // namespace pellar::script

#endif  // PELLAR_HOST_OBJECTS_H_
