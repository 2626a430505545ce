#pragma once

// OLE Automation's value types with their Windows names: BSTR, VARIANT and one-dimensional
// SAFEARRAY, and the calls that make, copy, convert and free them.
//
// Left out: VT_BYREF values beyond a shallow copy, arrays of more than one dimension or of
// other elements than VT_UI1, dates, currency, decimals, and the locale-dependent parts of
// conversion (numbers are read and written as the US-English system does).

#include <cstddef>

#include "platform/base/windows_types.h"
#include "platform/com/com.h"

using SHORT = std::int16_t;
using USHORT = std::uint16_t;
using VARTYPE = USHORT;
using VARIANT_BOOL = SHORT;
using DOUBLE = double;
using FLOAT = float;

constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

// ---- BSTR: UTF-16 units after a 32-bit byte length, with a NUL unit after them ----

using BSTR = OLECHAR*;

// A copy of psz up to its NUL; null for a null psz.
BSTR SysAllocString(const OLECHAR* psz);
// ui units copied from pch (zeroed when pch is null), plus the NUL; null when out of memory.
BSTR SysAllocStringLen(const OLECHAR* pch, UINT ui);
void SysFreeString(BSTR bstrString);
// The length in units, NUL units inside included; 0 for null.
UINT SysStringLen(BSTR pbstr);
UINT SysStringByteLen(BSTR bstr);

// ---- SAFEARRAY, one dimension ----

struct SAFEARRAYBOUND {
  ULONG cElements;
  LONG lLbound;
};

struct SAFEARRAY {
  USHORT cDims;
  USHORT fFeatures;
  ULONG cbElements;
  ULONG cLocks;
  LPVOID pvData;
  SAFEARRAYBOUND rgsabound[1];
};

// A zeroed array of cElements from lLbound on; null for another element type than VT_UI1 or
// when out of memory.
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements);
// As SafeArrayCreateVector, for cDims 1 only.
SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound);
// DISP_E_ARRAYISLOCKED while data is accessed; S_OK for null.
HRESULT SafeArrayDestroy(SAFEARRAY* psa);
HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData);
HRESULT SafeArrayUnaccessData(SAFEARRAY* psa);
// DISP_E_BADINDEX for a dimension other than 1.
HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound);
HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound);
UINT SafeArrayGetDim(SAFEARRAY* psa);
HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut);

// ---- VARIANT ----

enum VARENUM : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_UI1 = 17,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000,
};

struct VARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    LONG lVal;
    BYTE bVal;
    SHORT iVal;
    FLOAT fltVal;
    DOUBLE dblVal;
    VARIANT_BOOL boolVal;
    HRESULT scode;
    BSTR bstrVal;
    IUnknown* punkVal;
    IDispatch* pdispVal;
    SAFEARRAY* parray;
    VARIANT* pvarVal;
    void* byref;
  };
};
using VARIANTARG = VARIANT;

struct EXCEPINFO {
  WORD wCode;
  WORD wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  DWORD dwHelpContext;
  void* pvReserved;
  void* pfnDeferredFillIn;
  HRESULT scode;
};

void VariantInit(VARIANT* pvarg);
// Frees what the variant holds (string, reference, array) and leaves it VT_EMPTY; a type it
// does not know gives DISP_E_BADVARTYPE and leaves it untouched.
HRESULT VariantClear(VARIANT* pvarg);
// Clears pvargDest, then makes it a deep copy of pvargSrc (a reference is added, a string or
// array copied). On failure pvargDest is VT_EMPTY.
HRESULT VariantCopy(VARIANT* pvargDest, const VARIANT* pvargSrc);

constexpr USHORT VARIANT_NOVALUEPROP = 0x1;
constexpr USHORT VARIANT_ALPHABOOL = 0x2;

// Converts pvarSrc to vt into pvargDest (which may be pvarSrc). With wFlags 0:
// - to VT_BSTR: VT_EMPTY gives "", a boolean "-1" or "0", a number in its shortest form of up
//   to 15 significant digits with "E+21"-style exponents where the system writes them;
// - to VT_I4, VT_R8, VT_UI1: VT_EMPTY gives 0, a boolean -1 or 0, a string is read as a number
//   (spaces around it allowed); a double is rounded half to even; out of range DISP_E_OVERFLOW;
// - to VT_BOOL: a number is true unless 0, a string "True"/"False" in any case or a number;
// - to VT_DISPATCH / VT_UNKNOWN: an object through QueryInterface (a null one stays null);
// - to the source's own type: a copy.
// Everything else, VT_NULL and text that reads as no number included, gives
// DISP_E_TYPEMISMATCH. On failure pvargDest is left as it was.
HRESULT VariantChangeType(VARIANT* pvargDest, const VARIANT* pvarSrc, USHORT wFlags,
                          VARTYPE vt);
