#include "com_gen.h"

#include <stdexcept>

#include "guids.h"
#include "registry_entries.h"
#include <pellar/io/identity.h>
#include <pellar/io/xml_writer.h>

namespace pellar::com {
namespace {

constexpr char kHeader[] =
    "Generated from the automation table (src/automation/automation.cc) by\n"
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
                                " in programs/com/guids.cc");
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

namespace {

std::string XmlAttribute(std::string_view text) {
  std::string out;
  XmlEscapeUtf8(out, text);
  return out;
}

// One DLL's component: the file and, in the component's registry view, the
// entries its own registration writes.
void AppendServerComponent(const std::vector<ClassInfo>& classes, bool win64,
                           std::string& out) {
  const std::string bits = win64 ? "64" : "32";
  const std::string id = win64 ? std::string(kServer64ComponentId)
                               : std::string(kServer32ComponentId);
  out += "          <Component Id=\"Server" + bits + "\" Guid=\"{" + id +
         "}\" Win64=\"" + (win64 ? "yes" : "no") + "\">\n";
  out += "            <File Id=\"Dll" + bits +
         "\" Name=\"PellarLib.dll\" Source=\"$(var.Dll" + bits +
         ")\" KeyPath=\"yes\"/>\n";
  std::vector<RegistryEntry> entries;
  for (const ClassInfo& cls : classes) {
    for (RegistryEntry& entry : ClassRegistryEntries(cls)) {
      entries.push_back(std::move(entry));
    }
  }
  for (RegistryEntry& entry : TypeLibraryRegistryEntries(classes, win64)) {
    entries.push_back(std::move(entry));
  }
  for (const RegistryEntry& entry : entries) {
    std::string value;
    switch (entry.value) {
      case EntryValue::kText:
        value = entry.text;
        break;
      case EntryValue::kServerPath:
        value = "[#Dll" + bits + "]";
        break;
      case EntryValue::kServerFolder:
        value = "[Folder" + bits + "]";
        break;
    }
    out += "            <RegistryValue Root=\"HKCR\" Key=\"" +
           XmlAttribute(entry.key) + "\"";
    if (!entry.name.empty())
      out += " Name=\"" + XmlAttribute(entry.name) + "\"";
    out += " Value=\"" + XmlAttribute(value) + "\" Type=\"string\"/>\n";
  }
  out += "          </Component>\n";
}

}  // namespace

std::string GenerateWix(const std::vector<ClassInfo>& classes) {
  const LibraryInfo info = GetLibraryInfo();
  const std::string major = std::to_string(info.major);
  const std::string minor = std::to_string(info.minor);
  const std::string version =
      major + "." + minor + ".0." + std::to_string(info.revision);
  const std::string name = XmlAttribute(ToUtf8(info.product_name));
  const std::string manufacturer = XmlAttribute(ToUtf8(info.company_name));
  const std::string upgrade_code = std::string(kInstallerUpgradeCode);

  std::string out = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<!--\n";
  // XML comments cannot hold the double hyphens of kHeader.
  out += "  The PellarLib installer package, built by wixl (msitools):\n";
  out +=
      "    wixl -a x64 -D Dll32=... -D Dll64=... -D Readme=... "
      "-D Licence=... -o PellarLib.msi PellarLib.wxs\n\n";
  out +=
      "  Generated from the automation table (src/automation/automation.cc) and\n";
  out +=
      "  the registry entries (programs/com/registry_entries.cc) by pellar_comgen\n";
  out += "  (build target com_generate). Do not edit.\n-->\n";
  out += "<Wix xmlns=\"http://schemas.microsoft.com/wix/2006/wi\">\n";
  out += "  <Product Id=\"*\" Name=\"" + name +
         "\" Language=\"1033\" Version=\"" + version + "\" Manufacturer=\"" +
         manufacturer + "\" UpgradeCode=\"{" + upgrade_code + "}\">\n";
  out +=
      "    <Package InstallerVersion=\"200\" Compressed=\"yes\" "
      "InstallScope=\"perMachine\" Description=\"" +
      XmlAttribute(kLibraryHelp) + "\" Manufacturer=\"" + manufacturer +
      "\"/>\n";
  // An older version goes before this one is installed. Windows Installer
  // compares only the first three fields of a version, so a release that
  // changes only the revision counts as the same version: the second range
  // takes in every version up to the next build number.
  out += "    <MajorUpgrade DowngradeErrorMessage=\"A newer version of " +
         name + " is already installed.\"/>\n";
  out += "    <Upgrade Id=\"{" + upgrade_code + "}\">\n";
  out += "      <UpgradeVersion Minimum=\"" + version +
         "\" IncludeMinimum=\"yes\" Maximum=\"" + major + "." + minor +
         ".1\" Property=\"PELLAR_SAME_RELEASE_FOUND\"/>\n";
  out += "    </Upgrade>\n";
  out += "    <Media Id=\"1\" Cabinet=\"PellarLib.cab\" EmbedCab=\"yes\"/>\n";
  out += "    <Directory Id=\"TARGETDIR\" Name=\"SourceDir\">\n";
  out += "      <Directory Id=\"ProgramFilesFolder\">\n";
  out += "        <Directory Id=\"Folder32\" Name=\"" + name + "\">\n";
  AppendServerComponent(classes, false, out);
  out += "        </Directory>\n      </Directory>\n";
  out += "      <Directory Id=\"ProgramFiles64Folder\">\n";
  out += "        <Directory Id=\"Folder64\" Name=\"" + name + "\">\n";
  AppendServerComponent(classes, true, out);
  out += "          <Component Id=\"Documents\" Guid=\"{" +
         std::string(kDocumentsComponentId) + "}\" Win64=\"yes\">\n";
  out +=
      "            <File Id=\"Readme\" Name=\"README.txt\" "
      "Source=\"$(var.Readme)\" KeyPath=\"yes\"/>\n";
  out +=
      "            <File Id=\"Licence\" Name=\"LICENCE.txt\" "
      "Source=\"$(var.Licence)\"/>\n";
  out += "          </Component>\n";
  out += "        </Directory>\n      </Directory>\n    </Directory>\n";
  out += "    <Feature Id=\"Complete\" Title=\"" + name + "\" Level=\"1\">\n";
  for (const char* component : {"Server32", "Server64", "Documents"}) {
    out += "      <ComponentRef Id=\"" + std::string(component) + "\"/>\n";
  }
  out += "    </Feature>\n  </Product>\n</Wix>\n";
  return out;
}

}  // namespace pellar::com
