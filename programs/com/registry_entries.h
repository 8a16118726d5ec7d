// The server's registry entries as data. RegisterServer writes the class
// entries itself and leaves the type library's to RegisterTypeLib; the
// installer package's registry table is generated from the same lists
// (com_gen.h), so a registration by regsvr32 and one by the package agree.
// Portable, so the generator and its tests build everywhere.
#ifndef PELLAR_COM_REGISTRY_ENTRIES_H_
#define PELLAR_COM_REGISTRY_ENTRIES_H_

#include <string>
#include <vector>

#include <pellar/automation/automation.h>

namespace pellar::com {

// Where an entry's value comes from.
enum class EntryValue {
  kText,          // `text`
  kServerPath,    // the full path of the DLL
  kServerFolder,  // the DLL's folder with a trailing backslash
};

struct RegistryEntry {
  std::string key;   // under HKEY_CLASSES_ROOT
  std::string name;  // "" for the key's default value
  EntryValue value = EntryValue::kText;
  std::string text;  // the value when `value` is kText
};

// A class's entries: its programmatic identifier and class key, the DLL as
// apartment-threaded in-process server, its type library and version.
// Throws std::invalid_argument for a class without GUIDs (guids.h).
std::vector<RegistryEntry> ClassRegistryEntries(const ClassInfo& cls);

// What RegisterTypeLib records for the library loaded from the DLL of one
// bitness: the library key (its version in hexadecimal), and per dual
// interface its Interface key with the automation proxy.
std::vector<RegistryEntry> TypeLibraryRegistryEntries(
    const std::vector<ClassInfo>& classes, bool win64);

}  // namespace pellar::com

#endif  // PELLAR_COM_REGISTRY_ENTRIES_H_
