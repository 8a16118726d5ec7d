// The fixed GUIDs of the type library, its dual interfaces and its classes.
// Chosen once: a changed GUID orphans every registration and every client
// compiled against the old one. Portable, so the type library generator and
// its tests build everywhere.
#ifndef PELLAR_COM_GUIDS_H_
#define PELLAR_COM_GUIDS_H_

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include <pellar/base/text.h>

namespace pellar::com {

// A GUID in the field layout of the Windows structure.
struct Guid {
  uint32_t data1 = 0;
  uint16_t data2 = 0;
  uint16_t data3 = 0;
  uint8_t data4[8] = {};

  bool operator==(const Guid&) const = default;
};

struct ClassGuids {
  std::u16string_view class_name;  // "Cell"
  std::string_view interface_id;   // of _Cell, without braces
  std::string_view class_id;       // of the coclass Cell, without braces
};

inline constexpr std::string_view kLibraryId =
    "73A8E21F-2501-4A73-AD81-C6702D5E8D7B";
inline constexpr uint16_t kLibraryMajor = 28;
inline constexpr uint16_t kLibraryMinor = 0;
inline constexpr std::string_view kLibraryName = "PellarLib";
inline constexpr std::string_view kLibraryHelp =
    "Pellar UFL: report functions for work areas, files, mail, FTP and HTML "
    "tables";

// The installer package: the code that ties its versions together (each
// build has its own product code) and its components, one per folder and
// bitness.
inline constexpr std::string_view kInstallerUpgradeCode =
    "01EE8FB9-9500-4FC7-B5DF-EF7ACB56E9DD";
inline constexpr std::string_view kServer32ComponentId =
    "22817ED8-3F85-4986-8CFD-540EDD4992A8";
inline constexpr std::string_view kServer64ComponentId =
    "88431B2C-C147-4169-AEFA-6ADE7482BA8B";
inline constexpr std::string_view kDocumentsComponentId =
    "B4C41C80-B124-43C3-9CFF-1F5D0BE47993";

// One entry per class of the automation table, in its order.
std::span<const ClassGuids> AllClassGuids();
// nullptr for a class without GUIDs.
const ClassGuids* FindClassGuids(TextView class_name);

// Parses "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" (hex digits of either
// case, no braces); nullopt for anything else.
std::optional<Guid> ParseGuid(std::string_view text);
// "{" & upper-case text & "}", the form the registry uses.
std::string BracedGuid(std::string_view text);

}  // namespace pellar::com

#endif  // PELLAR_COM_GUIDS_H_
