#include "builtins.h"

#include <cctype>
#include <string>
#include <unordered_map>
#include <vector>

namespace pellar::script {
namespace {

struct Registry {
  std::vector<BuiltinInfo> entries;
  std::unordered_map<std::string, int32_t> by_name;  // lower case
};

const Registry& Builtins() {
  static const Registry* registry = [] {
    auto* r = new Registry;
    for (auto group :
         {TextBuiltins(), NumberBuiltins(), ConversionBuiltins(),
          DateBuiltins(), FormatBuiltins(), ValueBuiltins(), HostBuiltins()}) {
      for (const BuiltinInfo& info : group) {
        std::string lower;
        for (char c : info.name)
          lower +=
              static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        r->by_name.emplace(std::move(lower),
                           static_cast<int32_t>(r->entries.size()));
        r->entries.push_back(info);
      }
    }
    return r;
  }();
  return *registry;
}

}  // namespace

int32_t FindBuiltin(std::string_view lower) {
  const Registry& r = Builtins();
  auto it = r.by_name.find(std::string(lower));
  return it == r.by_name.end() ? -1 : it->second;
}

const BuiltinInfo& BuiltinAt(int32_t id) {
  return Builtins().entries[static_cast<size_t>(id)];
}

bool FindConstant(std::string_view lower, Var* value) {
  static const auto* constants = [] {
    auto* map = new std::unordered_map<std::string_view, Var>{
        {"vbcrlf", Var::String(u"\r\n")},
        {"vbnewline", Var::String(u"\r\n")},
        {"vbcr", Var::String(u"\r")},
        {"vblf", Var::String(u"\n")},
        {"vbtab", Var::String(u"\t")},
        {"vbnullstring", Var::String(u"")},
        {"vbnullchar", Var::String(Text(1, u'\0'))},
        {"vbformfeed", Var::String(u"\f")},
        {"vbverticaltab", Var::String(u"\v")},
        {"vbtrue", Var::Integer(-1)},
        {"vbfalse", Var::Integer(0)},
        {"vbusedefault", Var::Integer(-2)},
        {"vbbinarycompare", Var::Integer(0)},
        {"vbtextcompare", Var::Integer(1)},
        {"vbdatabasecompare", Var::Integer(2)},
        {"vbusesystemdayofweek", Var::Integer(0)},
        {"vbsunday", Var::Integer(1)},
        {"vbmonday", Var::Integer(2)},
        {"vbtuesday", Var::Integer(3)},
        {"vbwednesday", Var::Integer(4)},
        {"vbthursday", Var::Integer(5)},
        {"vbfriday", Var::Integer(6)},
        {"vbsaturday", Var::Integer(7)},
        {"vbusesystem", Var::Integer(0)},
        {"vbfirstjan1", Var::Integer(1)},
        {"vbfirstfourdays", Var::Integer(2)},
        {"vbfirstfullweek", Var::Integer(3)},
        {"vbgeneraldate", Var::Integer(0)},
        {"vblongdate", Var::Integer(1)},
        {"vbshortdate", Var::Integer(2)},
        {"vblongtime", Var::Integer(3)},
        {"vbshorttime", Var::Integer(4)},
        {"vbempty", Var::Integer(0)},
        {"vbnull", Var::Integer(1)},
        {"vbinteger", Var::Integer(2)},
        {"vblong", Var::Integer(3)},
        {"vbsingle", Var::Integer(4)},
        {"vbdouble", Var::Integer(5)},
        {"vbcurrency", Var::Integer(6)},
        {"vbdate", Var::Integer(7)},
        {"vbstring", Var::Integer(8)},
        {"vbobject", Var::Integer(9)},
        {"vberror", Var::Integer(10)},
        {"vbboolean", Var::Integer(11)},
        {"vbvariant", Var::Integer(12)},
        {"vbbyte", Var::Integer(17)},
        {"vbarray", Var::Integer(8192)},
        {"vbobjecterror", Var::Long(-2147221504)},
    };
    return map;
  }();
  auto it = constants->find(lower);
  if (it == constants->end()) return false;
  *value = it->second;
  return true;
}

const Var* MissingArgument() {
  static const Var missing;
  return &missing;
}

}  // namespace pellar::script
