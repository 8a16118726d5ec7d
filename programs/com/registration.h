// Registration of the server: per class its programmatic identifier, class
// GUID and in-process server (apartment threaded), and the type library.
#ifndef PELLAR_COM_REGISTRATION_H_
#define PELLAR_COM_REGISTRATION_H_

#include <windows.h>

namespace pellar::com {

// Records every entry; on a failure removes what it recorded and answers
// the failure. May throw std::bad_alloc.
HRESULT RegisterServer();

// Removes exactly the entries RegisterServer records. A programmatic
// identifier is shared by the 32-bit and the 64-bit registry views: it stays
// while the other bitness still registers the class, and so does one that
// now names another class. Entries already gone are no failure.
HRESULT UnregisterServer();

}  // namespace pellar::com

#endif  // PELLAR_COM_REGISTRATION_H_
