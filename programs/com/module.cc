#include "module.h"

#include <array>
#include <atomic>
#include <cstring>
#include <new>
#include <vector>

#include "guids.h"

namespace pellar::com {
namespace {

std::atomic<long> live_objects{0};
std::atomic<long> locks{0};

GUID ToWindows(std::string_view text) {
  // The fixed GUIDs parse; a test checks every one of them.
  Guid guid = ParseGuid(text).value_or(Guid{});
  GUID out;
  out.Data1 = guid.data1;
  out.Data2 = guid.data2;
  out.Data3 = guid.data3;
  std::memcpy(out.Data4, guid.data4, sizeof out.Data4);
  return out;
}

struct ClassIds {
  GUID interface_id;
  GUID class_id;
};

// Per class of the automation table, in its order; built once.
const std::vector<ClassIds>& AllIds() {
  static const std::vector<ClassIds> ids = [] {
    std::vector<ClassIds> all;
    for (const ClassInfo& cls : Classes()) {
      const ClassGuids* guids = FindClassGuids(cls.name);
      all.push_back(guids == nullptr ? ClassIds{GUID_NULL, GUID_NULL}
                                     : ClassIds{ToWindows(guids->interface_id),
                                                ToWindows(guids->class_id)});
    }
    return all;
  }();
  return ids;
}

size_t IndexOf(const ClassInfo& cls) {
  return static_cast<size_t>(&cls - Classes().data());
}

// Anything whose address lies inside this module.
void ModuleAnchor() {}

}  // namespace

std::wstring ModulePath() {
  HMODULE module = nullptr;
  if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&ModuleAnchor),
                            &module)) {
    return std::wstring();
  }
  std::wstring path(MAX_PATH, L'\0');
  while (true) {
    DWORD n = ::GetModuleFileNameW(module, path.data(),
                                   static_cast<DWORD>(path.size()));
    if (n == 0) return std::wstring();
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

const GUID& LibraryId() {
  static const GUID id = ToWindows(kLibraryId);
  return id;
}

const GUID& InterfaceIdOf(const ClassInfo& cls) {
  return AllIds()[IndexOf(cls)].interface_id;
}

const GUID& ClassIdOf(const ClassInfo& cls) {
  return AllIds()[IndexOf(cls)].class_id;
}

const ClassInfo* ClassOfClassId(REFCLSID clsid) {
  const std::vector<ClassIds>& ids = AllIds();
  for (size_t i = 0; i < ids.size(); ++i) {
    if (!::IsEqualGUID(clsid, GUID_NULL) &&
        ::IsEqualGUID(ids[i].class_id, clsid)) {
      return &Classes()[i];
    }
  }
  return nullptr;
}

void ObjectCreated() {
  ++live_objects;
  // A thread that called into the library keeps per-thread state whose
  // clean-up, when the thread ends, runs code of this module: once an
  // object has existed, the module stays loaded for the life of the
  // process. (DllCanUnloadNow still tells COM the truth; unloading just
  // does not happen.)
  static std::atomic<bool> pinned{false};
  if (!pinned.exchange(true)) {
    HMODULE module = nullptr;
    ::GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
        reinterpret_cast<LPCWSTR>(&ModuleAnchor), &module);
  }
}
void ObjectDestroyed() { --live_objects; }
void LockModule() { ++locks; }
void UnlockModule() { --locks; }
bool ModuleInUse() { return live_objects.load() > 0 || locks.load() > 0; }

HRESULT CaughtHresult() noexcept {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace pellar::com
