// The objects a script gets besides the library's: WScript, Err,
// Scripting.Dictionary, Scripting.FileSystemObject (filesystem.cc) and the
// wrapper that calls library classes through Invoke.
#ifndef PELLAR_HOST_OBJECTS_H_
#define PELLAR_HOST_OBJECTS_H_

#include <string_view>
#include <utility>
#include <vector>

#include <pellar/base/text.h>
#include "variant.h"

namespace pellar::script {

// What the host's objects share: 438 for a member an object lacks, 450 for
// a call with a wrong count, and a new object as a value holding its one
// reference.
[[noreturn]] void NoMember();
void ArgCount(Args args, size_t lo, size_t hi);
Var Own(ScriptObject* object);

// A read-only collection: Count, Item(i) counted from 0 (the default
// member; `bad_index` past the ends) and For Each.
class ItemList final : public ScriptObject {
 public:
  ItemList(Text type_name, std::vector<Var> items, int bad_index)
      : type_name_(std::move(type_name)),
        items_(std::move(items)),
        bad_index_(bad_index) {}
  Text TypeName() const override { return type_name_; }
  Var Invoke(Host& in, std::string_view name, Args args,
             CallKind kind) override;
  bool Enumerate(std::vector<Var>& out) override;

 private:
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
