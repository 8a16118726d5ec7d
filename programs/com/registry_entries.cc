#include "registry_entries.h"

#include <stdexcept>
#include <utility>

#include "guids.h"

namespace pellar::com {
namespace {

// The proxy of automation-compatible interfaces (PSOAInterface).
constexpr char kAutomationProxy[] = "{00020424-0000-0000-C000-000000000046}";
// The library flags the loaded type library reports: LIBFLAG_FHASDISKIMAGE.
constexpr char kLibraryFlags[] = "8";

const ClassGuids& GuidsOf(const ClassInfo& cls) {
  const ClassGuids* guids = FindClassGuids(cls.name);
  if (guids == nullptr) {
    throw std::invalid_argument("no GUIDs for class " + ToUtf8(cls.name) +
                                " in programs/com/guids.cc");
  }
  return *guids;
}

RegistryEntry Fixed(std::string key, std::string name, std::string text) {
  return {std::move(key), std::move(name), EntryValue::kText, std::move(text)};
}

std::string Hex(unsigned n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  do {
    out.insert(out.begin(), kDigits[n % 16]);
    n /= 16;
  } while (n != 0);
  return out;
}

}  // namespace

std::vector<RegistryEntry> ClassRegistryEntries(const ClassInfo& cls) {
  const ClassGuids& guids = GuidsOf(cls);
  const std::string progid = ToUtf8(cls.progid);
  const std::string clsid = BracedGuid(guids.class_id);
  const std::string key = "CLSID\\" + clsid;
  return {
      Fixed(progid, "", progid),
      Fixed(progid + "\\CLSID", "", clsid),
      Fixed(key, "", progid),
      {key + "\\InprocServer32", "", EntryValue::kServerPath, ""},
      Fixed(key + "\\InprocServer32", "ThreadingModel", "Apartment"),
      Fixed(key + "\\ProgID", "", progid),
      Fixed(key + "\\TypeLib", "", BracedGuid(kLibraryId)),
      Fixed(
          key + "\\VERSION", "",
          std::to_string(kLibraryMajor) + "." + std::to_string(kLibraryMinor)),
  };
}

std::vector<RegistryEntry> TypeLibraryRegistryEntries(
    const std::vector<ClassInfo>& classes, bool win64) {
  const std::string library = BracedGuid(kLibraryId);
  // The registry spells type library versions in hexadecimal.
  const std::string version = Hex(kLibraryMajor) + "." + Hex(kLibraryMinor);
  const std::string key = "TypeLib\\" + library + "\\" + version;
  std::vector<RegistryEntry> entries = {
      Fixed(key, "", std::string(kLibraryHelp)),
      {key + (win64 ? "\\0\\win64" : "\\0\\win32"), "", EntryValue::kServerPath,
       ""},
      Fixed(key + "\\FLAGS", "", kLibraryFlags),
      {key + "\\HELPDIR", "", EntryValue::kServerFolder, ""},
  };
  for (const ClassInfo& cls : classes) {
    const std::string interface_key =
        "Interface\\" + BracedGuid(GuidsOf(cls).interface_id);
    entries.push_back(Fixed(interface_key, "", ToUtf8(cls.interface_name)));
    entries.push_back(
        Fixed(interface_key + "\\ProxyStubClsid", "", kAutomationProxy));
    entries.push_back(
        Fixed(interface_key + "\\ProxyStubClsid32", "", kAutomationProxy));
    entries.push_back(Fixed(interface_key + "\\TypeLib", "", library));
    entries.push_back(Fixed(interface_key + "\\TypeLib", "Version", version));
  }
  return entries;
}

}  // namespace pellar::com
