// A client of the registered server, as report designers' hosts are: it
// creates the classes by programmatic identifier and calls them late bound
// through IDispatch and early bound through the dual interfaces' vtables.
// Cross-built and run under Wine by tests/windows/run.sh in each bitness,
// after regsvr32 registered PellarLib.dll.
//
// The suites named Stage* check the registry at points of the harness's
// unregistration sequence and are run by name only.
#include <gtest/gtest.h>
#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "PellarLib_h.h"
#include <pellar/automation/automation.h>
#include "guids.h"
#include "holders.h"
#include <pellar/io/identity.h>

namespace pellar::com {
namespace {

constexpr bool k64Bit = sizeof(void*) == 8;
// The registry view of the other bitness (see registration.cc).
constexpr REGSAM kOtherView = k64Bit ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
constexpr REGSAM kOwnView = k64Bit ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;

std::wstring Wide(std::string_view ascii) {
  return std::wstring(ascii.begin(), ascii.end());
}
std::wstring Wide(TextView text) {
  return std::wstring(text.begin(), text.end());
}
Text TextOfWide(const std::wstring& s) { return Text(s.begin(), s.end()); }

GUID ToGuid(std::string_view text) {
  Guid g = ParseGuid(text).value();
  GUID out;
  out.Data1 = g.data1;
  out.Data2 = g.data2;
  out.Data3 = g.data3;
  for (int i = 0; i < 8; ++i) out.Data4[i] = g.data4[i];
  return out;
}

const ClassGuids& GuidsOf(const ClassInfo& cls) {
  return *FindClassGuids(cls.name);
}

std::wstring ClassKey(const ClassInfo& cls) {
  return L"CLSID\\" + Wide(BracedGuid(GuidsOf(cls).class_id));
}

bool KeyExists(const std::wstring& subkey, REGSAM view) {
  RegKey key;
  return ::RegOpenKeyExW(HKEY_CLASSES_ROOT, subkey.c_str(), 0, KEY_READ | view,
                         key.put()) == ERROR_SUCCESS;
}

// A string value under HKEY_CLASSES_ROOT; "<missing>" when absent.
std::wstring ValueOf(const std::wstring& subkey, const wchar_t* name,
                     REGSAM view = 0) {
  RegKey key;
  if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, subkey.c_str(), 0, KEY_READ | view,
                      key.put()) != ERROR_SUCCESS) {
    return L"<missing>";
  }
  wchar_t buffer[1024];
  DWORD size = sizeof(buffer) - sizeof(wchar_t);
  if (::RegQueryValueExW(key.get(), name, nullptr, nullptr,
                         reinterpret_cast<BYTE*>(buffer),
                         &size) != ERROR_SUCCESS) {
    return L"<missing>";
  }
  buffer[size / sizeof(wchar_t)] = L'\0';
  return buffer;
}

std::wstring RegisteredDllPath() {
  return ValueOf(ClassKey(Classes()[0]) + L"\\InprocServer32", nullptr);
}

ComPtr<IDispatch> Create(TextView progid) {
  ComPtr<IDispatch> object;
  CLSID clsid;
  std::wstring name = Wide(progid);
  EXPECT_EQ(::CLSIDFromProgID(name.c_str(), &clsid), S_OK) << ToUtf8(progid);
  EXPECT_EQ(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IDispatch, object.put_void()),
            S_OK)
      << ToUtf8(progid);
  return object;
}

// Arguments of a late-bound call, in parameter order; owns the values.
class Args {
 public:
  Args() = default;
  Args(const Args&) = delete;
  Args& operator=(const Args&) = delete;
  ~Args() {
    for (VARIANT& v : values_) ::VariantClear(&v);
  }
  Args& Str(const wchar_t* s) {
    VARIANT& v = Add();
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = ::SysAllocString(s);
    return *this;
  }
  Args& I4(LONG n) {
    VARIANT& v = Add();
    V_VT(&v) = VT_I4;
    V_I4(&v) = n;
    return *this;
  }
  Args& I2(SHORT n) {
    VARIANT& v = Add();
    V_VT(&v) = VT_I2;
    V_I2(&v) = n;
    return *this;
  }
  Args& Bool(bool b) {
    VARIANT& v = Add();
    V_VT(&v) = VT_BOOL;
    V_BOOL(&v) = b ? VARIANT_TRUE : VARIANT_FALSE;
    return *this;
  }
  // A reference to the caller's VARIANT, as script engines pass variables.
  Args& VarRef(VARIANT* variable) {
    VARIANT& v = Add();
    V_VT(&v) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&v) = variable;
    return *this;
  }
  Args& StrRef(BSTR* variable) { return Ref(VT_BSTR, variable); }
  Args& I4Ref(LONG* variable) { return Ref(VT_I4, variable); }
  Args& I2Ref(SHORT* variable) { return Ref(VT_I2, variable); }
  Args& R8Ref(double* variable) { return Ref(VT_R8, variable); }

  // The arguments in the reverse order that DISPPARAMS wants.
  std::vector<VARIANT> Reversed() const {
    return std::vector<VARIANT>(values_.rbegin(), values_.rend());
  }

 private:
  VARIANT& Add() {
    values_.emplace_back();
    ::VariantInit(&values_.back());
    return values_.back();
  }
  Args& Ref(VARTYPE type, void* variable) {
    VARIANT& v = Add();
    V_VT(&v) = VT_BYREF | type;
    V_BYREF(&v) = variable;
    return *this;
  }
  std::vector<VARIANT> values_;
};

struct Outcome {
  HRESULT hr = E_FAIL;
  Variant result;
  EXCEPINFO exception = {};
  UINT arg_error = 12345;

  Outcome() = default;
  Outcome(const Outcome&) = delete;
  ~Outcome() {
    ::SysFreeString(exception.bstrSource);
    ::SysFreeString(exception.bstrDescription);
    ::SysFreeString(exception.bstrHelpFile);
  }
  Text text() const {
    return V_VT(&*result) == VT_BSTR ? TextOf(V_BSTR(&*result)) : u"<not text>";
  }
};

TextView ViewOf(const wchar_t* s) {
  return TextView(reinterpret_cast<const char16_t*>(s), std::wcslen(s));
}

DISPID IdOf(IDispatch* object, const wchar_t* name) {
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id),
            S_OK);
  return id;
}

void Invoke(IDispatch* object, const wchar_t* method, const Args& args,
            Outcome* out, WORD flags = DISPATCH_METHOD) {
  std::vector<VARIANT> reversed = args.Reversed();
  DISPPARAMS params = {reversed.data(), nullptr,
                       static_cast<UINT>(reversed.size()), 0};
  out->hr = object->Invoke(IdOf(object, method), IID_NULL, LOCALE_USER_DEFAULT,
                           flags, &params, out->result.get(), &out->exception,
                           &out->arg_error);
}

// The text a late-bound call answers; "" with a test failure otherwise.
Text CallText(IDispatch* object, const wchar_t* method, const Args& args) {
  Outcome out;
  Invoke(object, method, args, &out);
  EXPECT_EQ(out.hr, S_OK) << "calling " << ToUtf8(ViewOf(method));
  return out.text();
}

// A fresh folder under the temporary folder, removed with its files.
class ScratchFolder {
 public:
  explicit ScratchFolder(const wchar_t* name) {
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    path_ = std::wstring(temp) + name;
    Remove();
    ::CreateDirectoryW(path_.c_str(), nullptr);
  }
  ~ScratchFolder() { Remove(); }
  const std::wstring& path() const { return path_; }
  std::wstring Path(const wchar_t* name) const { return path_ + L"\\" + name; }

 private:
  void Remove() {
    WIN32_FIND_DATAW data;
    HANDLE h = ::FindFirstFileW((path_ + L"\\*").c_str(), &data);
    if (h != INVALID_HANDLE_VALUE) {
      do {
        std::wstring entry = path_ + L"\\" + data.cFileName;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          if (data.cFileName[0] == L'.') continue;
          WIN32_FIND_DATAW inner;
          HANDLE g = ::FindFirstFileW((entry + L"\\*").c_str(), &inner);
          if (g != INVALID_HANDLE_VALUE) {
            do {
              ::DeleteFileW((entry + L"\\" + inner.cFileName).c_str());
            } while (::FindNextFileW(g, &inner));
            ::FindClose(g);
          }
          ::RemoveDirectoryW(entry.c_str());
        } else {
          ::DeleteFileW(entry.c_str());
        }
      } while (::FindNextFileW(h, &data));
      ::FindClose(h);
    }
    ::RemoveDirectoryW(path_.c_str());
  }
  std::wstring path_;
};

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
              nullptr);
  ::CloseHandle(h);
}

// --- Registration and creation ---------------------------------------------

TEST(Registered, EveryClassIsCreatableByItsProgrammaticIdentifier) {
  for (const ClassInfo& cls : Classes()) {
    SCOPED_TRACE(ToUtf8(cls.progid));
    const GUID clsid = ToGuid(GuidsOf(cls).class_id);
    const GUID iid = ToGuid(GuidsOf(cls).interface_id);
    CLSID found;
    ASSERT_EQ(::CLSIDFromProgID(Wide(cls.progid).c_str(), &found), S_OK);
    EXPECT_TRUE(::IsEqualGUID(found, clsid));
    EXPECT_EQ(ValueOf(ClassKey(cls) + L"\\InprocServer32", L"ThreadingModel"),
              L"Apartment");
    EXPECT_EQ(ValueOf(ClassKey(cls) + L"\\ProgID", nullptr), Wide(cls.progid));
    EXPECT_EQ(ValueOf(ClassKey(cls) + L"\\TypeLib", nullptr),
              Wide(BracedGuid(kLibraryId)));

    ComPtr<IDispatch> object = Create(cls.progid);
    ASSERT_NE(object.get(), nullptr);
    ComPtr<IUnknown> dual;
    EXPECT_EQ(object->QueryInterface(iid, dual.put_void()), S_OK);
    ComPtr<ISupportErrorInfo> errors;
    ASSERT_EQ(object->QueryInterface(IID_ISupportErrorInfo, errors.put_void()),
              S_OK);
    EXPECT_EQ(errors->InterfaceSupportsErrorInfo(iid), S_OK);
    ComPtr<IUnknown> other;
    EXPECT_EQ(object->QueryInterface(IID_IClassFactory, other.put_void()),
              E_NOINTERFACE);
  }
  const std::wstring path = RegisteredDllPath();
  EXPECT_EQ(path.substr(path.size() - 14), L"\\PellarLib.dll");
}

TEST(Registered, UnknownClassesAndAggregationAreRefused) {
  HMODULE module = ::GetModuleHandleW(L"PellarLib.dll");
  if (module == nullptr) Create(u"PellarLib.UFL");  // loads it
  module = ::GetModuleHandleW(L"PellarLib.dll");
  ASSERT_NE(module, nullptr);
  auto get_class_object =
      reinterpret_cast<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(
          reinterpret_cast<void*>(
              ::GetProcAddress(module, "DllGetClassObject")));
  ASSERT_NE(get_class_object, nullptr);
  void* out = &out;
  EXPECT_EQ(get_class_object(IID_IDispatch, IID_IClassFactory, &out),
            CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(out, nullptr);
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(get_class_object(ToGuid(GuidsOf(Classes()[0]).class_id),
                             IID_IClassFactory, factory.put_void()),
            S_OK);
  ComPtr<IUnknown> outer_object;
  EXPECT_EQ(factory->CreateInstance(factory.get(), IID_IUnknown,
                                    outer_object.put_void()),
            CLASS_E_NOAGGREGATION);
}

// The count behind DllCanUnloadNow: instances, factories and locks.
TEST(Registered, CanUnloadOnlyWhenNothingIsLive) {
  ComPtr<IDispatch> object = Create(u"PellarLib.Cell");
  HMODULE module = ::GetModuleHandleW(L"PellarLib.dll");
  ASSERT_NE(module, nullptr);
  auto can_unload = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
      reinterpret_cast<void*>(::GetProcAddress(module, "DllCanUnloadNow")));
  ASSERT_NE(can_unload, nullptr);
  EXPECT_EQ(can_unload(), S_FALSE);
  object = ComPtr<IDispatch>();
  EXPECT_EQ(can_unload(), S_OK);

  ComPtr<IClassFactory> factory;
  ASSERT_EQ(::CoGetClassObject(ToGuid(GuidsOf(Classes()[0]).class_id),
                               CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               factory.put_void()),
            S_OK);
  EXPECT_EQ(can_unload(), S_FALSE);
  factory->LockServer(TRUE);
  IClassFactory* held = factory.get();
  held->AddRef();
  factory = ComPtr<IClassFactory>();
  held->Release();
  EXPECT_EQ(can_unload(), S_FALSE);  // locked, though no object is left
  ASSERT_EQ(::CoGetClassObject(ToGuid(GuidsOf(Classes()[0]).class_id),
                               CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               factory.put_void()),
            S_OK);
  factory->LockServer(FALSE);
  factory = ComPtr<IClassFactory>();
  EXPECT_EQ(can_unload(), S_OK);
}

// --- The type library against the automation table ---------------------------

// The automation type of a parameter or result.
VARTYPE VarTypeOf(Type type) {
  switch (type) {
    case Type::kText:
      return VT_BSTR;
    case Type::kInt32:
      return VT_I4;
    case Type::kInt16:
      return VT_I2;
    case Type::kBoolean:
      return VT_BOOL;
  }
  return VT_EMPTY;
}

struct TypeAttr {
  ITypeInfo* info;
  TYPEATTR* attr = nullptr;
  explicit TypeAttr(ITypeInfo* i) : info(i) { info->GetTypeAttr(&attr); }
  ~TypeAttr() {
    if (attr != nullptr) info->ReleaseTypeAttr(attr);
  }
};

struct FuncDesc {
  ITypeInfo* info;
  FUNCDESC* desc = nullptr;
  FuncDesc(ITypeInfo* i, UINT index) : info(i) {
    info->GetFuncDesc(index, &desc);
  }
  ~FuncDesc() {
    if (desc != nullptr) info->ReleaseFuncDesc(desc);
  }
};

std::vector<Text> NamesOf(ITypeInfo* info, MEMBERID id) {
  BSTR names[16] = {};
  UINT count = 0;
  EXPECT_EQ(info->GetNames(id, names, 16, &count), S_OK);
  std::vector<Text> out;
  for (UINT i = 0; i < count; ++i) {
    out.push_back(TextOf(names[i]));
    ::SysFreeString(names[i]);
  }
  return out;
}

Text NameOf(ITypeInfo* info) {
  BSTR name = nullptr;
  info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
  Text out = TextOf(name);
  ::SysFreeString(name);
  return out;
}

// The vtable interface: every method, its dispatch id, names, types and
// passing, and its place in the vtable after IDispatch's seven slots, for
// pointers of `pointer_size` bytes.
void CheckVtableInterface(ITypeInfo* info, const ClassInfo& cls,
                          size_t pointer_size) {
  TypeAttr attr(info);
  ASSERT_NE(attr.attr, nullptr);
  EXPECT_EQ(attr.attr->typekind, TKIND_INTERFACE);
  EXPECT_EQ(attr.attr->wTypeFlags,
            TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE |
                TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE);
  EXPECT_EQ(attr.attr->cFuncs, cls.methods.size());
  EXPECT_EQ(attr.attr->cbSizeVft, (7 + cls.methods.size()) * pointer_size);
  SHORT slot_size = 0;
  for (UINT i = 0; i < attr.attr->cFuncs && i < cls.methods.size(); ++i) {
    const MethodInfo& method = cls.methods[i];
    SCOPED_TRACE(ToUtf8(method.name));
    FuncDesc func(info, i);
    ASSERT_NE(func.desc, nullptr);
    EXPECT_EQ(func.desc->memid, method.dispid);
    EXPECT_EQ(func.desc->invkind, INVOKE_FUNC);
    EXPECT_EQ(func.desc->callconv, CC_STDCALL);
    // Slot i follows IDispatch's seven. (Wine scales the offsets of a
    // library of the other bitness to this process's pointers.)
    if (i == 0) {
      slot_size = func.desc->oVft / 7;
      EXPECT_TRUE(slot_size == 4 || slot_size == 8) << func.desc->oVft;
    }
    EXPECT_EQ(func.desc->oVft, static_cast<SHORT>((7 + i) * slot_size));
    EXPECT_EQ(func.desc->elemdescFunc.tdesc.vt, VT_HRESULT);
    ASSERT_EQ(func.desc->cParams, static_cast<SHORT>(method.params.size() + 1));
    std::vector<Text> names = NamesOf(info, func.desc->memid);
    ASSERT_EQ(names.size(), method.params.size() + 2);
    EXPECT_EQ(names[0], method.name);
    for (size_t p = 0; p <= method.params.size(); ++p) {
      const ELEMDESC& elem = func.desc->lprgelemdescParam[p];
      const bool result = p == method.params.size();
      const bool ref = !result && method.params[p].passing == Passing::kRef;
      const Type type = result ? method.result : method.params[p].type;
      SCOPED_TRACE(result ? "result" : ToUtf8(method.params[p].name));
      EXPECT_EQ(names[p + 1], result ? Text(u"Result") : method.params[p].name);
      if (ref || result) {
        ASSERT_EQ(elem.tdesc.vt, VT_PTR);
        EXPECT_EQ(elem.tdesc.lptdesc->vt, VarTypeOf(type));
      } else {
        EXPECT_EQ(elem.tdesc.vt, VarTypeOf(type));
      }
      const USHORT flags = elem.paramdesc.wParamFlags;
      EXPECT_EQ(flags, result ? PARAMFLAG_FOUT | PARAMFLAG_FRETVAL
                       : ref  ? PARAMFLAG_FIN | PARAMFLAG_FOUT
                              : PARAMFLAG_FIN);
    }
  }
}

// Every name, GUID, dispatch id, type and flag of `library` against the
// automation table.
void CheckTypeLibrary(ITypeLib* library, SYSKIND syskind) {
  TLIBATTR* lib = nullptr;
  ASSERT_EQ(library->GetLibAttr(&lib), S_OK);
  EXPECT_TRUE(::IsEqualGUID(lib->guid, ToGuid(kLibraryId)));
  EXPECT_EQ(lib->wMajorVerNum, 28);
  EXPECT_EQ(lib->wMinorVerNum, 0);
  EXPECT_EQ(lib->lcid, LOCALE_NEUTRAL);
  EXPECT_EQ(lib->syskind, syskind);
  library->ReleaseTLibAttr(lib);
  BSTR name = nullptr;
  library->GetDocumentation(-1, &name, nullptr, nullptr, nullptr);
  EXPECT_EQ(TextOf(name), u"PellarLib");
  ::SysFreeString(name);
  EXPECT_EQ(library->GetTypeInfoCount(), 2 * Classes().size());

  for (const ClassInfo& cls : Classes()) {
    SCOPED_TRACE(ToUtf8(cls.name));
    const GUID iid = ToGuid(GuidsOf(cls).interface_id);
    ComPtr<ITypeInfo> dispatch;
    ASSERT_EQ(library->GetTypeInfoOfGuid(iid, dispatch.put()), S_OK);
    {
      TypeAttr attr(dispatch.get());
      ASSERT_NE(attr.attr, nullptr);
      EXPECT_EQ(attr.attr->typekind, TKIND_DISPATCH);
      // widl and Wine's loader leave "oleautomation" to the vtable half
      // checked below; the dispatch half may carry it or not.
      EXPECT_EQ(attr.attr->wTypeFlags & ~TYPEFLAG_FOLEAUTOMATION,
                TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE |
                    TYPEFLAG_FDISPATCHABLE);
      EXPECT_EQ(attr.attr->lcid, LOCALE_NEUTRAL);
      EXPECT_EQ(NameOf(dispatch.get()), cls.interface_name);
    }
    HREFTYPE vtable_ref;
    ASSERT_EQ(dispatch->GetRefTypeOfImplType(-1, &vtable_ref), S_OK);
    ComPtr<ITypeInfo> vtable;
    ASSERT_EQ(dispatch->GetRefTypeInfo(vtable_ref, vtable.put()), S_OK);
    CheckVtableInterface(vtable.get(), cls, syskind == SYS_WIN64 ? 8 : 4);

    ComPtr<ITypeInfo> coclass;
    ASSERT_EQ(library->GetTypeInfoOfGuid(ToGuid(GuidsOf(cls).class_id),
                                         coclass.put()),
              S_OK);
    TypeAttr attr(coclass.get());
    ASSERT_NE(attr.attr, nullptr);
    EXPECT_EQ(attr.attr->typekind, TKIND_COCLASS);
    EXPECT_EQ(NameOf(coclass.get()), cls.name);
    EXPECT_TRUE(attr.attr->wTypeFlags & TYPEFLAG_FCANCREATE);
    ASSERT_EQ(attr.attr->cImplTypes, 1);
    INT impl_flags = 0;
    coclass->GetImplTypeFlags(0, &impl_flags);
    EXPECT_EQ(impl_flags, IMPLTYPEFLAG_FDEFAULT);
    HREFTYPE default_ref;
    ASSERT_EQ(coclass->GetRefTypeOfImplType(0, &default_ref), S_OK);
    ComPtr<ITypeInfo> default_interface;
    ASSERT_EQ(coclass->GetRefTypeInfo(default_ref, default_interface.put()),
              S_OK);
    EXPECT_EQ(NameOf(default_interface.get()), cls.interface_name);
  }
}

TEST(Registered, TypeLibraryMatchesTheAutomationTable) {
  ComPtr<ITypeLib> library;
  ASSERT_EQ(::LoadRegTypeLib(ToGuid(kLibraryId), kLibraryMajor, kLibraryMinor,
                             LOCALE_NEUTRAL, library.put()),
            S_OK);
  CheckTypeLibrary(library.get(), k64Bit ? SYS_WIN64 : SYS_WIN32);
}

TEST(Registered, IDispatchDescribesItsInterface) {
  ComPtr<IDispatch> cell = Create(u"PellarLib.Cell");
  UINT count = 0;
  EXPECT_EQ(cell->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  ComPtr<ITypeInfo> info;
  ASSERT_EQ(cell->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.put()), S_OK);
  EXPECT_EQ(NameOf(info.get()), u"_Cell");
  ComPtr<ITypeInfo> none;
  EXPECT_EQ(cell->GetTypeInfo(1, LOCALE_USER_DEFAULT, none.put()),
            DISP_E_BADINDEX);
}

// --- Late-bound calls
// ----------------------------------------------------------

TEST(Registered, NamesAreFoundWhateverTheirCase) {
  ComPtr<IDispatch> cell = Create(u"PellarLib.Cell");
  EXPECT_EQ(IdOf(cell.get(), L"pAD"), 0x60030008);
  LPOLESTR names[] = {const_cast<LPOLESTR>(L"Pad"), const_cast<LPOLESTR>(L"L"),
                      const_cast<LPOLESTR>(L"s")};
  DISPID ids[3];
  EXPECT_EQ(cell->GetIDsOfNames(IID_NULL, names, 3, 0, ids), S_OK);
  EXPECT_EQ(ids[1], 1);
  EXPECT_EQ(ids[2], 0);
  LPOLESTR unknown[] = {const_cast<LPOLESTR>(L"Nope")};
  DISPID id = 0;
  EXPECT_EQ(cell->GetIDsOfNames(IID_NULL, unknown, 1, 0, &id),
            DISP_E_UNKNOWNNAME);
  EXPECT_EQ(id, DISPID_UNKNOWN);
  LPOLESTR bad_param[] = {const_cast<LPOLESTR>(L"Pad"),
                          const_cast<LPOLESTR>(L"width")};
  EXPECT_EQ(cell->GetIDsOfNames(IID_NULL, bad_param, 2, 0, ids),
            DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], 0x60030008);
  EXPECT_EQ(ids[1], DISPID_UNKNOWN);
}

TEST(Registered, InvokeTakesValuesTypedReferencesAndVariantReferences) {
  ComPtr<IDispatch> cell = Create(u"PellarLib.Cell");
  EXPECT_EQ(CallText(cell.get(), L"Clear", Args().I4(3).I2(2)),
            u"Pellar Work Area Created (3 x 2)");
  // Values of other types convert by the table's rules.
  EXPECT_EQ(CallText(cell.get(), L"SaveValue",
                     Args().Str(L"1").I2(1).I4(42).Str(L"")),
            u"42");
  EXPECT_EQ(CallText(cell.get(), L"GetValue", Args().I4(1).I4(1).Str(L"")),
            u"42");

  // Cell.Pad lengthens s: a typed reference and a variant reference both
  // receive the text; a value is left alone.
  Bstr typed(u"ab");
  BSTR typed_s = typed.release();
  EXPECT_EQ(CallText(cell.get(), L"Pad", Args().StrRef(&typed_s).I2(4)),
            u"ab  ");
  EXPECT_EQ(TextOf(typed_s), u"ab  ");
  ::SysFreeString(typed_s);

  Variant number;
  V_VT(number.get()) = VT_I4;
  V_I4(number.get()) = 12;
  SHORT width = 5;
  EXPECT_EQ(
      CallText(cell.get(), L"Pad", Args().VarRef(number.get()).I2Ref(&width)),
      u"12   ");
  ASSERT_EQ(V_VT(number.get()), VT_BSTR);  // now of the declared type
  EXPECT_EQ(TextOf(V_BSTR(number.get())), u"12   ");
  EXPECT_EQ(width, 5);

  // A variant reference to a typed reference, and a double by reference.
  double wide_width = 3.0;
  Variant inner;
  V_VT(inner.get()) = VT_BYREF | VT_R8;
  V_R8REF(inner.get()) = &wide_width;
  EXPECT_EQ(CallText(cell.get(), L"Pad", Args().Str(L"x").VarRef(inner.get())),
            u"x  ");
  EXPECT_EQ(wide_width, 3.0);

  // Named arguments land on their parameters.
  std::vector<VARIANT> args(2);
  V_VT(&args[0]) = VT_I2;
  V_I2(&args[0]) = 3;  // l, named
  V_VT(&args[1]) = VT_BSTR;
  V_BSTR(&args[1]) = ::SysAllocString(L"z");  // s, positional
  DISPID named = 1;
  DISPPARAMS params = {args.data(), &named, 2, 1};
  Outcome out;
  out.hr =
      cell->Invoke(IdOf(cell.get(), L"Pad"), IID_NULL, 0, DISPATCH_METHOD,
                   &params, out.result.get(), &out.exception, &out.arg_error);
  ::VariantClear(&args[1]);
  EXPECT_EQ(out.hr, S_OK);
  EXPECT_EQ(out.text(), u"z  ");
}

TEST(Registered, RefParametersAreWrittenBack) {
  ComPtr<IDispatch> table = Create(u"PellarLib.Table");
  // Table.BuildNew raises Cols to 1: a variant holding a 16-bit 0 ends up
  // holding the declared 32-bit type, a typed 16-bit variable its own type.
  Variant cols;
  V_VT(cols.get()) = VT_I2;
  V_I2(cols.get()) = 0;
  EXPECT_EQ(CallText(table.get(), L"BuildNew", Args().I4(0).VarRef(cols.get())),
            u"Table Created (1 x 1)");
  ASSERT_EQ(V_VT(cols.get()), VT_I4);
  EXPECT_EQ(V_I4(cols.get()), 1);
  SHORT short_cols = -3;
  EXPECT_EQ(CallText(table.get(), L"BuildNew", Args().I4(2).I2Ref(&short_cols)),
            u"Table Created (2 x 1)");
  EXPECT_EQ(short_cols, 1);
  LONG long_cols = 0;
  CallText(table.get(), L"BuildNew", Args().I4(2).I4Ref(&long_cols));
  EXPECT_EQ(long_cols, 1);

  // Email.SendOutbox quotes a mail program whose path holds a blank.
  ScratchFolder folder(L"pellar client mail");
  ::CreateDirectoryW(folder.Path(L"Mail Tools").c_str(), nullptr);
  const std::wstring program = folder.Path(L"Mail Tools\\mail.bat");
  WriteFileBytes(program, "@echo off\r\n");
  ComPtr<IDispatch> email = Create(u"PellarLib.Email");
  Variant mail_program;
  V_VT(mail_program.get()) = VT_BSTR;
  V_BSTR(mail_program.get()) = ::SysAllocString(program.c_str());
  Variant outbox;
  V_VT(outbox.get()) = VT_BSTR;
  V_BSTR(outbox.get()) = ::SysAllocString(L"");
  EXPECT_EQ(CallText(email.get(), L"SendOutbox",
                     Args().VarRef(outbox.get()).VarRef(mail_program.get())),
            u"Call to \"" + TextOfWide(program) + u"\"");
  ASSERT_EQ(V_VT(mail_program.get()), VT_BSTR);
  EXPECT_EQ(TextOf(V_BSTR(mail_program.get())),
            u"\"" + TextOfWide(program) + u"\"");
}

TEST(Registered, CallErrorsAreAutomationErrors) {
  ComPtr<IDispatch> cell = Create(u"PellarLib.Cell");
  Outcome count;
  Invoke(cell.get(), L"Pad", Args().Str(L"x"), &count);
  EXPECT_EQ(count.hr, DISP_E_BADPARAMCOUNT);

  // Arguments come in reverse order: l, the second parameter, is rgvarg[0].
  Outcome mismatch;
  Invoke(cell.get(), L"Pad", Args().Str(L"x").Str(L"abc"), &mismatch);
  EXPECT_EQ(mismatch.hr, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(mismatch.arg_error, 0u);
  Outcome first;
  Invoke(cell.get(), L"Clear", Args().Str(L"many").I4(1), &first);
  EXPECT_EQ(first.hr, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(first.arg_error, 1u);
  Outcome overflow;
  Invoke(cell.get(), L"Pad", Args().Str(L"x").I4(100000), &overflow);
  EXPECT_EQ(overflow.hr, DISP_E_OVERFLOW);
  EXPECT_EQ(overflow.arg_error, 0u);

  Outcome put;
  Invoke(cell.get(), L"Pad", Args().Str(L"x").I2(1), &put,
         DISPATCH_PROPERTYPUT);
  EXPECT_EQ(put.hr, DISP_E_MEMBERNOTFOUND);
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  Variant result;
  EXPECT_EQ(cell->Invoke(0x60030000 + 13, IID_NULL, 0, DISPATCH_METHOD, &none,
                         result.get(), nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(cell->Invoke(0x60030000, IID_IDispatch, 0, DISPATCH_METHOD, &none,
                         result.get(), nullptr, nullptr),
            DISP_E_UNKNOWNINTERFACE);
}

// An untrapped failure of the method: Cell.SaveValue on a Cell without a
// work area.
TEST(Registered, AFailureFillsExcepInfo) {
  ComPtr<IDispatch> cell = Create(u"PellarLib.Cell");
  Outcome out;
  Invoke(cell.get(), L"SaveValue", Args().I4(0).I4(0).Str(L"x").Str(L""), &out);
  EXPECT_EQ(out.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(out.exception.scode, static_cast<SCODE>(0x800A0009));
  EXPECT_EQ(out.exception.wCode, 0);
  EXPECT_EQ(TextOf(out.exception.bstrDescription), u"Subscript out of range");
  EXPECT_EQ(TextOf(out.exception.bstrSource), u"PellarLib");
  EXPECT_EQ(V_VT(&*out.result), VT_EMPTY);
  ComPtr<IErrorInfo> info;
  ASSERT_EQ(::GetErrorInfo(0, info.put()), S_OK);
  BSTR description = nullptr;
  info->GetDescription(&description);
  EXPECT_EQ(TextOf(description), u"Subscript out of range");
  ::SysFreeString(description);
}

// --- Early-bound calls
// ---------------------------------------------------------

TEST(Registered, TheVtableCallsTheSameMethods) {
  ComPtr<_Cell> cell;
  ASSERT_EQ(::CoCreateInstance(__uuidof(Cell), nullptr, CLSCTX_INPROC_SERVER,
                               __uuidof(_Cell), cell.put_void()),
            S_OK);
  BSTR result = nullptr;
  LONG cols = 2;
  ASSERT_EQ(cell->Clear(3, &cols, &result), S_OK);
  EXPECT_EQ(TextOf(result), u"Pellar Work Area Created (3 x 2)");
  ::SysFreeString(result);

  BSTR s = ::SysAllocString(L"ab");
  SHORT l = 4;
  ASSERT_EQ(cell->Pad(&s, &l, &result), S_OK);
  EXPECT_EQ(TextOf(result), u"ab  ");
  EXPECT_EQ(TextOf(s), u"ab  ");
  ::SysFreeString(result);
  ::SysFreeString(s);

  // A null BSTR is the empty text.
  BSTR empty = nullptr;
  l = 2;
  ASSERT_EQ(cell->Pad(&empty, &l, &result), S_OK);
  EXPECT_EQ(TextOf(result), u"  ");
  ::SysFreeString(result);
  ::SysFreeString(empty);

  ComPtr<_Table> table;
  ASSERT_EQ(::CoCreateInstance(__uuidof(Table), nullptr, CLSCTX_INPROC_SERVER,
                               __uuidof(_Table), table.put_void()),
            S_OK);
  LONG table_cols = 0;
  ASSERT_EQ(table->BuildNew(0, &table_cols, &result), S_OK);
  EXPECT_EQ(table_cols, 1);
  ::SysFreeString(result);

  ComPtr<_File> file;
  ASSERT_EQ(::CoCreateInstance(__uuidof(File), nullptr, CLSCTX_INPROC_SERVER,
                               __uuidof(_File), file.put_void()),
            S_OK);
  wchar_t self[MAX_PATH];
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  BSTR name = ::SysAllocString(self);
  VARIANT_BOOL exists = VARIANT_FALSE;
  ASSERT_EQ(file->Exists(&name, &exists), S_OK);
  EXPECT_EQ(exists, VARIANT_TRUE);
  ::SysFreeString(name);
  EXPECT_EQ(cell->Pad(nullptr, &l, &result), E_POINTER);
}

TEST(Registered, VtableFailuresSetErrorInfo) {
  ComPtr<_Cell> cell;
  ASSERT_EQ(::CoCreateInstance(__uuidof(Cell), nullptr, CLSCTX_INPROC_SERVER,
                               __uuidof(_Cell), cell.put_void()),
            S_OK);
  BSTR value = ::SysAllocString(L"x");
  BSTR delimiter = ::SysAllocString(L"");
  BSTR result = ::SysAllocString(L"stale");
  ::SysFreeString(result);
  result = nullptr;
  EXPECT_EQ(cell->SaveValue(0, 0, &value, &delimiter, &result),
            static_cast<HRESULT>(0x800A0009));
  EXPECT_EQ(result, nullptr);
  ::SysFreeString(value);
  ::SysFreeString(delimiter);
  ComPtr<IErrorInfo> info;
  ASSERT_EQ(::GetErrorInfo(0, info.put()), S_OK);
  ASSERT_NE(info.get(), nullptr);
  BSTR description = nullptr, source = nullptr;
  GUID guid;
  info->GetDescription(&description);
  info->GetSource(&source);
  info->GetGUID(&guid);
  EXPECT_EQ(TextOf(description), u"Subscript out of range");
  EXPECT_EQ(TextOf(source), u"PellarLib");
  EXPECT_TRUE(::IsEqualGUID(guid, __uuidof(_Cell)));
  ::SysFreeString(description);
  ::SysFreeString(source);

  // A negative length given to Pad: 5 "Invalid procedure call or argument".
  BSTR s = ::SysAllocString(L"ab");
  SHORT l = -1;
  EXPECT_EQ(cell->Pad(&s, &l, &result), static_cast<HRESULT>(0x800A0005));
  ::SysFreeString(s);
}

// --- Identity and module state
// -------------------------------------------------

std::wstring VersionString(const std::vector<char>& block,
                           const wchar_t* name) {
  wchar_t* value = nullptr;
  UINT length = 0;
  std::wstring query = L"\\StringFileInfo\\040904B0\\" + std::wstring(name);
  if (!::VerQueryValueW(block.data(), query.c_str(),
                        reinterpret_cast<void**>(&value), &length)) {
    return L"<missing>";
  }
  return std::wstring(value, length > 0 ? length - 1 : 0);
}

// The version resource of the DLL at `path` holds LibraryInfo's values.
void CheckVersionResource(const std::wstring& path) {
  DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), nullptr);
  ASSERT_GT(size, 0u);
  std::vector<char> block(size);
  ASSERT_TRUE(::GetFileVersionInfoW(path.c_str(), 0, size, block.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\",
                               reinterpret_cast<void**>(&fixed), &length));
  const LibraryInfo info = GetLibraryInfo();
  EXPECT_EQ(HIWORD(fixed->dwFileVersionMS), static_cast<WORD>(info.major));
  EXPECT_EQ(LOWORD(fixed->dwFileVersionMS), static_cast<WORD>(info.minor));
  EXPECT_EQ(HIWORD(fixed->dwFileVersionLS), 0);
  EXPECT_EQ(LOWORD(fixed->dwFileVersionLS), static_cast<WORD>(info.revision));
  EXPECT_EQ(VersionString(block, L"FileDescription"),
            Wide(info.file_description));
  EXPECT_EQ(VersionString(block, L"CompanyName"), Wide(info.company_name));
  EXPECT_EQ(VersionString(block, L"ProductName"), Wide(info.product_name));
  EXPECT_EQ(VersionString(block, L"OriginalFilename"),
            Wide(info.exe_name) + L".dll");
  EXPECT_EQ(VersionString(block, L"FileVersion"), L"3.02.0030");
}

TEST(Registered, VersionResourceHoldsTheLibraryInfo) {
  const std::wstring path = RegisteredDllPath();
  CheckVersionResource(path);
  // The library reports the folder it was loaded from.
  ComPtr<IDispatch> ufl = Create(u"PellarLib.UFL");
  EXPECT_EQ(CallText(ufl.get(), L"Help", Args().Str(L"installedfolder")),
            TextOfWide(path.substr(0, path.find_last_of(L'\\'))));
}

// Module state is per host thread: a Cell save sets the application name
// on its own thread only.
struct ThreadReport {
  Text before;
  Text after;
};

DWORD WINAPI OtherApartment(void* param) {
  auto* report = static_cast<ThreadReport*>(param);
  ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  {
    ComPtr<IDispatch> ufl;
    CLSID clsid;
    if (SUCCEEDED(::CLSIDFromProgID(L"PellarLib.UFL", &clsid)) &&
        SUCCEEDED(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_IDispatch, ufl.put_void()))) {
      Outcome out;
      Args args;
      args.Str(L"applicationname");
      std::vector<VARIANT> reversed = args.Reversed();
      DISPPARAMS params = {reversed.data(), nullptr, 1, 0};
      LPOLESTR names[] = {const_cast<LPOLESTR>(L"Help")};
      DISPID id;
      ufl->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
      out.hr = ufl->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params,
                           out.result.get(), nullptr, nullptr);
      report->before = SUCCEEDED(out.hr) ? out.text() : u"<failed>";
    }
  }
  ::CoUninitialize();
  return 0;
}

TEST(Registered, ModuleStateBelongsToTheCallingThread) {
  ScratchFolder folder(L"pellar client state");
  ComPtr<IDispatch> cell = Create(u"PellarLib.Cell");
  ComPtr<IDispatch> ufl = Create(u"PellarLib.UFL");
  CallText(cell.get(), L"Clear", Args().I4(0).I4(0));
  const std::wstring file = folder.Path(L"state.txt");
  EXPECT_EQ(CallText(cell.get(), L"SaveFile",
                     Args().Str(file.c_str()).Str(L",").I2(10)),
            u"Saved to " + TextOfWide(file) + u" (0 lines)");
  EXPECT_EQ(CallText(ufl.get(), L"Help", Args().Str(L"applicationname")),
            u"Pellar UFL");

  ThreadReport report;
  HANDLE thread =
      ::CreateThread(nullptr, 0, &OtherApartment, &report, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  ::WaitForSingleObject(thread, INFINITE);
  ::CloseHandle(thread);
  EXPECT_EQ(report.before, u"");
  EXPECT_EQ(CallText(ufl.get(), L"Help", Args().Str(L"applicationname")),
            u"Pellar UFL");
}

// The DLL of the other bitness, named by PELLAR_OTHER_DLL: this process
// cannot run its code, but reads its type library and version resource as
// data. (It is how the 32-bit DLL gets checked where 32-bit programs cannot
// run.)
TEST(OtherBitness, TypeLibraryAndVersionResource) {
  const char* other = std::getenv("PELLAR_OTHER_DLL");
  if (other == nullptr || *other == '\0') GTEST_SKIP() << "no PELLAR_OTHER_DLL";
  const std::wstring path = Wide(std::string_view(other));
  ComPtr<ITypeLib> library;
  ASSERT_EQ(::LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.put()), S_OK);
  CheckTypeLibrary(library.get(), k64Bit ? SYS_WIN32 : SYS_WIN64);
  CheckVersionResource(path);
}

// COM may unload the DLL once nothing is live while threads that used it
// (and so hold its per-thread state) run on: their exit must not call into
// the unloaded code.
struct UseThenWaitEvents {
  HANDLE used;   // set by the thread once it has used the library
  HANDLE go_on;  // set by the test when the thread may end
};

DWORD WINAPI UseThenWait(void* param) {
  const auto* events = static_cast<UseThenWaitEvents*>(param);
  ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  {
    CLSID clsid;
    ComPtr<IDispatch> table;
    if (SUCCEEDED(::CLSIDFromProgID(L"PellarLib.Table", &clsid)) &&
        SUCCEEDED(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_IDispatch, table.put_void()))) {
      Outcome out;
      Invoke(table.get(), L"BuildNew", Args().I4(1).I4(1), &out);  // logs
    }
  }
  ::CoFreeUnusedLibrariesEx(0, 0);
  ::CoUninitialize();
  ::SetEvent(events->used);
  ::WaitForSingleObject(events->go_on, INFINITE);
  return 0;
}

TEST(Registered, ThreadsOutliveAnUnloadedLibrary) {
  // Generous: a loaded machine may take minutes to get to the thread.
  constexpr DWORD kPatience = 300000;
  UseThenWaitEvents events{::CreateEventW(nullptr, TRUE, FALSE, nullptr),
                           ::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  HANDLE thread = ::CreateThread(nullptr, 0, &UseThenWait, &events, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(::WaitForSingleObject(events.used, kPatience), WAIT_OBJECT_0);
  ::CoFreeUnusedLibrariesEx(0, 0);
  ::CoFreeUnusedLibrariesEx(0, 0);
  ::SetEvent(events.go_on);
  EXPECT_EQ(::WaitForSingleObject(thread, kPatience), WAIT_OBJECT_0);
  DWORD code = 1;
  ::GetExitCodeThread(thread, &code);
  EXPECT_EQ(code, 0u);
  ::CloseHandle(thread);
  ::CloseHandle(events.used);
  ::CloseHandle(events.go_on);
  // Created anew after the unload, the classes work as before.
  ComPtr<IDispatch> ufl = Create(u"PellarLib.UFL");
  EXPECT_EQ(CallText(ufl.get(), L"Help", Args().Str(L"developer")),
            u"Brambleworth");
}

// --- Stages of the unregistration sequence (run by name)
// -----------------------

// Pretends the other bitness registers Cell, as its regsvr32 would.
TEST(StageFakeOtherView, Write) {
  const ClassInfo& cell = Classes()[0];
  RegKey key;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_CLASSES_ROOT,
                              (ClassKey(cell) + L"\\InprocServer32").c_str(), 0,
                              nullptr, 0, KEY_WRITE | kOtherView, nullptr,
                              key.put(), nullptr),
            ERROR_SUCCESS);
  EXPECT_TRUE(KeyExists(ClassKey(cell), kOtherView));
  EXPECT_FALSE(KeyExists(ClassKey(Classes()[1]), kOtherView));
}

TEST(StageFakeOtherView, Remove) {
  RegKey classes;
  ASSERT_EQ(::RegOpenKeyExW(HKEY_CLASSES_ROOT, L"CLSID", 0,
                            KEY_ALL_ACCESS | kOtherView, classes.put()),
            ERROR_SUCCESS);
  const std::wstring clsid = Wide(BracedGuid(GuidsOf(Classes()[0]).class_id));
  EXPECT_EQ(::RegDeleteTreeW(classes.get(), clsid.c_str()), ERROR_SUCCESS);
  EXPECT_FALSE(KeyExists(ClassKey(Classes()[0]), kOtherView));
}

// After this bitness's regsvr32 /u: its classes are gone from its view, and
// a programmatic identifier stays exactly when the other bitness still
// registers the class.
TEST(StageThisUnregistered, ProgIdsStayWhileTheOtherViewRegisters) {
  for (const ClassInfo& cls : Classes()) {
    SCOPED_TRACE(ToUtf8(cls.progid));
    EXPECT_FALSE(KeyExists(ClassKey(cls), kOwnView));
    const bool other =
        KeyExists(ClassKey(cls) + L"\\InprocServer32", kOtherView);
    EXPECT_EQ(KeyExists(Wide(cls.progid), 0), other);
    if (other) {
      EXPECT_EQ(ValueOf(Wide(cls.progid) + L"\\CLSID", nullptr),
                Wide(BracedGuid(GuidsOf(cls).class_id)));
    }
    EXPECT_FALSE(
        KeyExists(L"Interface\\" + Wide(BracedGuid(GuidsOf(cls).interface_id)),
                  kOwnView));
  }
  const std::wstring version = L"TypeLib\\" + Wide(BracedGuid(kLibraryId)) +
                               L"\\1c.0\\0\\" + (k64Bit ? L"win64" : L"win32");
  EXPECT_FALSE(KeyExists(version, 0));
}

// After both bitnesses unregistered: no entry of the server in either view.
TEST(StageAllUnregistered, NothingIsLeftBehind) {
  for (REGSAM view : {kOwnView, kOtherView}) {
    for (const ClassInfo& cls : Classes()) {
      SCOPED_TRACE(ToUtf8(cls.progid));
      EXPECT_FALSE(KeyExists(Wide(cls.progid), view));
      EXPECT_FALSE(KeyExists(ClassKey(cls), view));
      EXPECT_FALSE(KeyExists(
          L"Interface\\" + Wide(BracedGuid(GuidsOf(cls).interface_id)), view));
    }
    EXPECT_FALSE(KeyExists(L"TypeLib\\" + Wide(BracedGuid(kLibraryId)), view));
  }
  CLSID clsid;
  EXPECT_NE(::CLSIDFromProgID(L"PellarLib.Cell", &clsid), S_OK);
}

}  // namespace
}  // namespace pellar::com

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 3;
  int result = RUN_ALL_TESTS();
  ::CoUninitialize();
  return result;
}
