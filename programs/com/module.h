// Module-wide facts of the in-process server: its file, the GUIDs of the
// classes in Windows form, and the count of live objects and locks that
// DllCanUnloadNow reads.
#ifndef PELLAR_COM_MODULE_H_
#define PELLAR_COM_MODULE_H_

#include <windows.h>

#include <string>

#include <pellar/automation/automation.h>

namespace pellar::com {

// The full path of PellarLib.dll; empty when the system cannot tell.
std::wstring ModulePath();

const GUID& LibraryId();
const GUID& InterfaceIdOf(const ClassInfo& cls);
const GUID& ClassIdOf(const ClassInfo& cls);
// The class whose coclass GUID is `clsid`; nullptr for none.
const ClassInfo* ClassOfClassId(REFCLSID clsid);

// Live objects (instances and class factories) and server locks.
void ObjectCreated();
void ObjectDestroyed();
void LockModule();
void UnlockModule();
bool ModuleInUse();

// The one translation at the COM boundary: the HRESULT for the exception
// being handled, E_OUTOFMEMORY when memory ran out and E_UNEXPECTED for
// anything else, since no exception may cross into the caller. Call it
// only inside catch (...).
HRESULT CaughtHresult() noexcept;

}  // namespace pellar::com

#endif  // PELLAR_COM_MODULE_H_
