// Writes the COM server's two table-derived sources from the automation
// table: the type library's IDL and the C++ classes whose vtables implement
// the dual interfaces. Both are checked in under src/com/generated/ and a
// test keeps them equal to what this writes, so neither can drift from the
// table. Portable: it runs wherever the native build runs.
#ifndef PELLAR_COM_COM_GEN_H_
#define PELLAR_COM_COM_GEN_H_

#include <string>
#include <vector>

#include "frame/automation.h"

namespace pellar::com {

inline constexpr char kIdlFileName[] = "PellarLib.idl";
inline constexpr char kDualClassesFileName[] = "dual_classes.inc";

// The IDL of the type library: per class a dual interface and a coclass.
// Throws std::invalid_argument for a class without GUIDs (see guids.h).
std::string GenerateIdl(const std::vector<ClassInfo>& classes);

// The C++ implementation classes, one per class, deriving from
// Dual<_Class> (dual_object.h), and NewDual(cls), which creates one.
std::string GenerateDualClasses(const std::vector<ClassInfo>& classes);

}  // namespace pellar::com

#endif  // PELLAR_COM_COM_GEN_H_
