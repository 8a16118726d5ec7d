// PELLAR_EXPORT marks what libPellarLib.so exports: the classes, the
// automation table and Invoke, and the texts, values and failures they
// use. Everything else is compiled hidden (-fvisibility=hidden) and stays
// inside the library. On Windows the DLL is an automation server that
// exports its COM entry points only (PellarLib.def), so the mark is empty.
#ifndef PELLAR_BASE_EXPORT_H_
#define PELLAR_BASE_EXPORT_H_

// PELLAR_INTERNAL keeps a nested part of an exported class (its Impl)
// hidden.
#if defined(_WIN32)
#define PELLAR_EXPORT
#define PELLAR_INTERNAL
#else
#define PELLAR_EXPORT __attribute__((visibility("default")))
#define PELLAR_INTERNAL __attribute__((visibility("hidden")))
#endif

#endif  // PELLAR_BASE_EXPORT_H_
