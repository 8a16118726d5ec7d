#include "com/com_gen.h"

#include <stdexcept>

#include "com/guids.h"

namespace pellar::com {
namespace {

constexpr char kHeader[] =
    "Generated from the automation table (src/frame/automation.cc) by\n"
    "pellar_comgen: run `cmake --build <native build> --target com_generate`\n"
    "after changing the table. Do not edit.\n";

// The text of an ASCII name from the table.
std::string Name(TextView name) { return ToUtf8(name); }

std::string Hex(int32_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (int shift = 28; shift >= 0; shift -= 4) {
    out.push_back(kDigits[(static_cast<uint32_t>(n) >> shift) & 0xF]);
  }
  return "0x" + out;
}

const ClassGuids& GuidsOf(const ClassInfo& cls) {
  const ClassGuids* guids = FindClassGuids(cls.name);
  if (guids == nullptr) {
    throw std::invalid_argument("no GUIDs for class " + Name(cls.name) +
                                " in src/com/guids.cc");
  }
  return *guids;
}

std::string IdlType(Type type) {
  switch (type) {
    case Type::kText:
      return "BSTR";
    case Type::kInt32:
      return "long";
    case Type::kInt16:
      return "short";
    case Type::kBoolean:
      return "VARIANT_BOOL";
  }
  return "";
}

std::string CppType(Type type) {
  switch (type) {
    case Type::kText:
      return "BSTR";
    case Type::kInt32:
      return "LONG";
    case Type::kInt16:
      return "SHORT";
    case Type::kBoolean:
      return "VARIANT_BOOL";
  }
  return "";
}

// The ComArg factory for a parameter (dual_object.h).
std::string ArgFactory(const ParamInfo& param) {
  std::string name;
  switch (param.type) {
    case Type::kText:
      name = "Str";
      break;
    case Type::kInt32:
      name = "I4";
      break;
    case Type::kInt16:
      name = "I2";
      break;
    case Type::kBoolean:
      name = "Bool";
      break;
  }
  return "ComArg::" + name + (param.passing == Passing::kRef ? "Ref" : "");
}

void AppendIdlMethod(const MethodInfo& method, std::string& out) {
  out += "    [id(" + Hex(method.dispid) + ")]\n";
  out += "    HRESULT " + Name(method.name) + "(";
  for (const ParamInfo& param : method.params) {
    const bool ref = param.passing == Passing::kRef;
    out += ref ? "[in, out] " : "[in] ";
    out += IdlType(param.type) + (ref ? "* " : " ") + Name(param.name) + ", ";
  }
  out += "[out, retval] " + IdlType(method.result) + "* Result);\n";
}

}  // namespace

std::string GenerateIdl(const std::vector<ClassInfo>& classes) {
  std::string out = "// The PellarLib type library.\n//\n";
  for (size_t start = 0; kHeader[start] != '\0';) {
    std::string_view rest(kHeader + start);
    size_t end = rest.find('\n');
    out += "// " + std::string(rest.substr(0, end)) + "\n";
    start += end + 1;
  }
  out += "\nimport \"oaidl.idl\";\n\n";
  out += "[\n  uuid(" + std::string(kLibraryId) + "),\n";
  out += "  version(" + std::to_string(kLibraryMajor) + "." +
         std::to_string(kLibraryMinor) + "),\n";
  out += "  helpstring(\"" + std::string(kLibraryHelp) + "\")\n]\n";
  out += "library " + std::string(kLibraryName) + "\n{\n";
  out += "  importlib(\"stdole2.tlb\");\n";
  for (const ClassInfo& cls : classes) {
    const ClassGuids& guids = GuidsOf(cls);
    out += "\n  [\n    uuid(" + std::string(guids.interface_id) + "),\n";
    out +=
        "    hidden,\n    dual,\n    nonextensible,\n    oleautomation\n  ]\n";
    out += "  interface " + Name(cls.interface_name) + " : IDispatch\n  {\n";
    for (const MethodInfo& method : cls.methods) AppendIdlMethod(method, out);
    out += "  };\n\n";
    out += "  [\n    uuid(" + std::string(guids.class_id) + ")\n  ]\n";
    out += "  coclass " + Name(cls.name) + "\n  {\n";
    out += "    [default] interface " + Name(cls.interface_name) + ";\n  };\n";
  }
  out += "}\n";
  return out;
}

std::string GenerateDualClasses(const std::vector<ClassInfo>& classes) {
  std::string out =
      "// The vtables of the dual interfaces: every method hands its "
      "arguments\n// to the shared call path by slot (dual_object.h).\n//\n";
  for (size_t start = 0; kHeader[start] != '\0';) {
    std::string_view rest(kHeader + start);
    size_t end = rest.find('\n');
    out += "// " + std::string(rest.substr(0, end)) + "\n";
    start += end + 1;
  }
  for (const ClassInfo& cls : classes) {
    GuidsOf(cls);
    const std::string impl = Name(cls.name) + "Dual";
    out += "\nclass " + impl +
           " final : public Dual<::" + Name(cls.interface_name) +
           "> {\n public:\n  using Dual::Dual;\n";
    for (const MethodInfo& method : cls.methods) {
      out += "  HRESULT STDMETHODCALLTYPE " + Name(method.name) + "(";
      std::string args;
      for (size_t i = 0; i < method.params.size(); ++i) {
        const ParamInfo& param = method.params[i];
        const std::string arg = "a" + std::to_string(i);
        out += CppType(param.type) +
               (param.passing == Passing::kRef ? "* " : " ") + arg + ", ";
        if (!args.empty()) args += ", ";
        args += ArgFactory(param) + "(" + arg + ")";
      }
      out += CppType(method.result) + "* result) override {\n";
      out += "    return Call(" + std::to_string(method.slot) + ", {" + args +
             "}, result);\n  }\n";
    }
    out += "};\n";
  }
  out += "\nIDispatch* NewDual(const ClassInfo& cls) {\n";
  for (const ClassInfo& cls : classes) {
    out += "  if (cls.name == u\"" + Name(cls.name) + "\") return new " +
           Name(cls.name) + "Dual(cls);\n";
  }
  out += "  return nullptr;\n}\n";
  return out;
}

}  // namespace pellar::com
