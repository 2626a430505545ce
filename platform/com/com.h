#pragma once

// COM as this program uses it, with COM's names and contracts: per-thread initialisation,
// reference-counted objects, late-bound IDispatch calls and a class registry keyed by ProgID and
// class identifier. The variant, BSTR and SAFEARRAY calls are in platform/com/oleauto.h.
//
// Left out: apartments beyond remembering the threading model a thread chose, marshalling,
// aggregation, class factories as objects, type libraries (GetTypeInfo answers E_NOTIMPL) and
// the registry of the real system; classes live in this process only.

#include <cstdint>
#include <string_view>

#include "platform/base/windows_types.h"

// ---- Result codes ----

constexpr HRESULT make_hresult(std::uint32_t bits) { return static_cast<HRESULT>(bits); }

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = make_hresult(0x80004001);
constexpr HRESULT E_NOINTERFACE = make_hresult(0x80004002);
constexpr HRESULT E_POINTER = make_hresult(0x80004003);
constexpr HRESULT E_FAIL = make_hresult(0x80004005);
constexpr HRESULT E_UNEXPECTED = make_hresult(0x8000FFFF);
constexpr HRESULT E_OUTOFMEMORY = make_hresult(0x8007000E);
constexpr HRESULT E_INVALIDARG = make_hresult(0x80070057);
constexpr HRESULT CO_E_NOTINITIALIZED = make_hresult(0x800401F0);
constexpr HRESULT CO_E_CLASSSTRING = make_hresult(0x800401F3);
constexpr HRESULT REGDB_E_CLASSNOTREG = make_hresult(0x80040154);
constexpr HRESULT CLASS_E_NOAGGREGATION = make_hresult(0x80040110);
constexpr HRESULT RPC_E_CHANGED_MODE = make_hresult(0x80010106);
constexpr HRESULT DISP_E_UNKNOWNINTERFACE = make_hresult(0x80020001);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = make_hresult(0x80020003);
constexpr HRESULT DISP_E_PARAMNOTFOUND = make_hresult(0x80020004);
constexpr HRESULT DISP_E_TYPEMISMATCH = make_hresult(0x80020005);
constexpr HRESULT DISP_E_UNKNOWNNAME = make_hresult(0x80020006);
constexpr HRESULT DISP_E_NONAMEDARGS = make_hresult(0x80020007);
constexpr HRESULT DISP_E_BADVARTYPE = make_hresult(0x80020008);
constexpr HRESULT DISP_E_EXCEPTION = make_hresult(0x80020009);
constexpr HRESULT DISP_E_OVERFLOW = make_hresult(0x8002000A);
constexpr HRESULT DISP_E_BADINDEX = make_hresult(0x8002000B);
constexpr HRESULT DISP_E_ARRAYISLOCKED = make_hresult(0x8002000D);
constexpr HRESULT DISP_E_BADPARAMCOUNT = make_hresult(0x8002000E);
constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = make_hresult(0x8002000F);

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

// ---- Identifiers ----

struct GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
};
using CLSID = GUID;
using IID = GUID;
using REFGUID = const GUID&;
using REFCLSID = const CLSID&;
using REFIID = const IID&;
using LPCLSID = CLSID*;
using LCID = DWORD;
using DISPID = LONG;
using OLECHAR = WCHAR;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;

bool operator==(const GUID& a, const GUID& b);

extern const IID IID_NULL;
extern const IID IID_IUnknown;
extern const IID IID_IDispatch;

constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;

// ---- Interfaces ----

struct IUnknown {
  virtual HRESULT QueryInterface(REFIID riid, void** ppvObject) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  // Objects go away through Release only.
  ~IUnknown() = default;
};

struct VARIANT;
struct ITypeInfo;  // never handed out
struct EXCEPINFO;

struct DISPPARAMS {
  VARIANT* rgvarg;             // arguments in reverse order, the named ones first
  DISPID* rgdispidNamedArgs;
  UINT cArgs;
  UINT cNamedArgs;
};

constexpr DISPID DISPID_VALUE = 0;
constexpr DISPID DISPID_UNKNOWN = -1;
constexpr DISPID DISPID_PROPERTYPUT = -3;

constexpr WORD DISPATCH_METHOD = 0x1;
constexpr WORD DISPATCH_PROPERTYGET = 0x2;
constexpr WORD DISPATCH_PROPERTYPUT = 0x4;
constexpr WORD DISPATCH_PROPERTYPUTREF = 0x8;

struct IDispatch : IUnknown {
  virtual HRESULT GetTypeInfoCount(UINT* pctinfo) = 0;
  virtual HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;
  virtual HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                DISPID* rgDispId) = 0;
  virtual HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                         DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                         UINT* puArgErr) = 0;

 protected:
  ~IDispatch() = default;
};

// ---- Initialisation, counted per thread ----

constexpr DWORD COINIT_MULTITHREADED = 0x0;
constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;

// The first call on a thread gives S_OK, each further one S_FALSE and adds to the count. Asking
// for the other threading model than the thread has gives RPC_E_CHANGED_MODE and adds nothing.
HRESULT CoInitialize(LPVOID pvReserved);
HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
// Takes one off the calling thread's count; nothing when it is already 0.
void CoUninitialize();
// CoInitialize in the single-threaded model plus a count of its own; OleUninitialize takes
// one off both and does nothing on a thread without an OleInitialize outstanding.
HRESULT OleInitialize(LPVOID pvReserved);
void OleUninitialize();

// ---- Classes and objects ----

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
constexpr DWORD CLSCTX_SERVER = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
constexpr DWORD CLSCTX_ALL = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER |
                             CLSCTX_REMOTE_SERVER;

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in hex digits of either case; anything else gives
// CO_E_CLASSSTRING, a null argument E_INVALIDARG.
HRESULT CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid);
// The class registered under the ProgID, compared without regard to ASCII case; CO_E_CLASSSTRING
// when none is, E_INVALIDARG for a null argument.
HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid);
// Makes an object of a registered class and asks it for riid. *ppv is null on every failure:
// E_POINTER for a null ppv, CO_E_NOTINITIALIZED when the calling thread has not initialised COM,
// CLASS_E_NOAGGREGATION for an outer object, E_INVALIDARG for context bits COM does not know,
// REGDB_E_CLASSNOTREG for an unknown class or a context without CLSCTX_INPROC_SERVER (every
// class here is an in-process server), the factory's own error, or E_NOINTERFACE.
HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                         LPVOID* ppv);
// The classes here are running once made: S_OK for any object, E_INVALIDARG for null.
HRESULT OleRun(IUnknown* pUnknown);

// ---- Registering a class ----

// Makes a new object with one reference for the caller, or fails with an error HRESULT and
// leaves *object null. class_context is what CoCreateInstance was asked for, so that a class
// can refuse a context as a remote-capable class would.
using ComClassFactory = HRESULT (*)(DWORD class_context, IUnknown** object);

// Adds a class; false when the ProgID (in any case) or the class identifier is taken already.
bool register_com_class(std::u16string_view progid, const CLSID& clsid, ComClassFactory factory);
// Removes a class registered before; false when it is not there.
bool unregister_com_class(const CLSID& clsid);

// A class registers itself with one of these at namespace scope in its .cpp. A static library
// would drop that object file unless something else pulls it in, so a library of classes is
// linked whole (see platform/vbscript_regexp/CMakeLists.txt).
struct ComClassRegistration {
  ComClassRegistration(std::u16string_view progid, const CLSID& clsid, ComClassFactory factory);
};

// ---- Diagnostics for tests ----

// How many CoInitialize / OleInitialize calls the calling thread has outstanding.
[[nodiscard]] ULONG com_initialization_count();
[[nodiscard]] ULONG ole_initialization_count();
