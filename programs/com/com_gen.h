// Writes the COM server's table-derived sources from the automation table:
// the type library's IDL, the C++ classes whose vtables implement the dual
// interfaces, and the WiX source of the Windows installer package with the
// registry entries of both DLLs. All are checked in under
// programs/com/generated/ and a test keeps them equal to what this writes, so
// none can drift from the table. Portable: it runs wherever the native build runs.
#ifndef PELLAR_COM_COM_GEN_H_
#define PELLAR_COM_COM_GEN_H_

#include <string>
#include <vector>

#include <pellar/automation/automation.h>

namespace pellar::com {

inline constexpr char kIdlFileName[] = "PellarLib.idl";
inline constexpr char kDualClassesFileName[] = "dual_classes.inc";
inline constexpr char kWixFileName[] = "PellarLib.wxs";

// The IDL of the type library: per class a dual interface and a coclass.
// Throws std::invalid_argument for a class without GUIDs (see guids.h).
std::string GenerateIdl(const std::vector<ClassInfo>& classes);

// The C++ implementation classes, one per class, deriving from
// Dual<_Class> (dual_object.h), and NewDual(cls), which creates one.
std::string GenerateDualClasses(const std::vector<ClassInfo>& classes);

// The WiX source of the installer package (built by wixl): product name,
// manufacturer and version from the library's identity; the 32-bit DLL
// under the 32-bit program files folder and the 64-bit one under the 64-bit
// folder, each component holding its DLL's registry entries
// (registry_entries.h) in its own registry view; the README and licence.
// wixl defines name the files: Dll32, Dll64, Readme, Licence.
std::string GenerateWix(const std::vector<ClassInfo>& classes);

}  // namespace pellar::com

#endif  // PELLAR_COM_COM_GEN_H_
