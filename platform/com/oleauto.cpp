#include "platform/com/oleauto.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

namespace {

constexpr std::size_t bstr_prefix = sizeof(std::uint32_t);
// A BSTR's byte length is a 32-bit count.
constexpr UINT max_bstr_units = (0xFFFFFFFFu - 2) / sizeof(OLECHAR) - bstr_prefix;

// ---- Numbers as the system writes and reads them ----

// Up to 15 significant digits, exponent form from 1E+15 and below 1E-04 as in "1E-05".
std::u16string format_double(double value) {
  if (std::isnan(value)) return u"-1.#IND";
  if (std::isinf(value)) return value < 0 ? u"-1.#INF" : u"1.#INF";
  if (value == 0) return u"0";  // also -0
  char buffer[64];
  const auto [end, ec] =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
  if (ec != std::errc()) return u"0";
  std::u16string out;
  for (const char* p = buffer; p != end; ++p) {
    out.push_back(*p == 'e' ? u'E' : static_cast<char16_t>(*p));
  }
  return out;
}

std::u16string format_long(long long value) {
  char buffer[32];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  std::u16string out;
  if (ec != std::errc()) return out;
  for (const char* p = buffer; p != end; ++p) out.push_back(static_cast<char16_t>(*p));
  return out;
}

bool is_space(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

// A decimal number with optional sign, fraction and exponent, spaces around it allowed.
bool parse_double(std::u16string_view text, double* out) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && is_space(text[begin])) ++begin;
  while (end > begin && is_space(text[end - 1])) --end;
  if (begin == end || end - begin > 400) return false;
  std::string ascii;
  for (std::size_t i = begin; i < end; ++i) {
    const char16_t c = text[i];
    if (c > 0x7F) return false;
    ascii.push_back(static_cast<char>(c));
  }
  std::size_t skip = 0;
  if (ascii[0] == '+') skip = 1;
  if (skip == 1 && ascii.size() > 1 && ascii[1] == '-') return false;
  double value = 0;
  const char* first = ascii.data() + skip;
  const char* last = ascii.data() + ascii.size();
  const auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::general);
  if (ec != std::errc() || ptr != last) return false;
  if (!std::isfinite(value)) return false;
  *out = value;
  return true;
}

bool round_to_long(double value, long long low, long long high, long long* out) {
  if (!std::isfinite(value)) return false;
  const double rounded = std::nearbyint(value);  // the default mode: half to even
  if (rounded < static_cast<double>(low) || rounded > static_cast<double>(high)) return false;
  *out = static_cast<long long>(rounded);
  return true;
}

bool same_ascii_nocase(std::u16string_view text, std::string_view word) {
  if (text.size() != word.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    if (c != static_cast<unsigned char>(word[i])) return false;
  }
  return true;
}

std::u16string_view bstr_view(BSTR bstr) { return {bstr, SysStringLen(bstr)}; }

// The value of a scalar source as a double, for the numeric and boolean targets.
HRESULT scalar_as_double(const VARIANT& src, double* out) {
  switch (src.vt) {
    case VT_EMPTY: *out = 0; return S_OK;
    case VT_I2: *out = src.iVal; return S_OK;
    case VT_I4: *out = src.lVal; return S_OK;
    case VT_R4: *out = src.fltVal; return S_OK;
    case VT_R8: *out = src.dblVal; return S_OK;
    case VT_UI1: *out = src.bVal; return S_OK;
    case VT_BOOL: *out = src.boolVal != 0 ? -1 : 0; return S_OK;
    case VT_BSTR: return parse_double(bstr_view(src.bstrVal), out) ? S_OK : DISP_E_TYPEMISMATCH;
    default: return DISP_E_TYPEMISMATCH;
  }
}

bool is_known_type(VARTYPE vt) {
  if ((vt & VT_BYREF) != 0) return true;
  if (vt == (VT_ARRAY | VT_UI1)) return true;
  switch (vt) {
    case VT_EMPTY: case VT_NULL: case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_BSTR:
    case VT_DISPATCH: case VT_ERROR: case VT_BOOL: case VT_UNKNOWN: case VT_UI1:
      return true;
    default:
      return false;
  }
}

}  // namespace

// ---- BSTR ----

BSTR SysAllocString(const OLECHAR* psz) {
  if (psz == nullptr) return nullptr;
  UINT n = 0;
  while (psz[n] != 0) ++n;
  return SysAllocStringLen(psz, n);
}

BSTR SysAllocStringLen(const OLECHAR* pch, UINT ui) {
  if (ui > max_bstr_units) return nullptr;
  const std::size_t bytes = bstr_prefix + (static_cast<std::size_t>(ui) + 1) * sizeof(OLECHAR);
  auto* block = static_cast<unsigned char*>(std::malloc(bytes));
  if (block == nullptr) return nullptr;
  const auto byte_length = static_cast<std::uint32_t>(ui * sizeof(OLECHAR));
  std::memcpy(block, &byte_length, bstr_prefix);
  auto* units = reinterpret_cast<OLECHAR*>(block + bstr_prefix);
  if (pch != nullptr) {
    std::memcpy(units, pch, ui * sizeof(OLECHAR));
  } else {
    std::memset(units, 0, ui * sizeof(OLECHAR));
  }
  units[ui] = 0;
  return units;
}

void SysFreeString(BSTR bstrString) {
  if (bstrString == nullptr) return;
  std::free(reinterpret_cast<unsigned char*>(bstrString) - bstr_prefix);
}

UINT SysStringByteLen(BSTR bstr) {
  if (bstr == nullptr) return 0;
  std::uint32_t byte_length = 0;
  std::memcpy(&byte_length, reinterpret_cast<unsigned char*>(bstr) - bstr_prefix, bstr_prefix);
  return byte_length;
}

UINT SysStringLen(BSTR pbstr) {
  return static_cast<UINT>(SysStringByteLen(pbstr) / sizeof(OLECHAR));
}

// ---- SAFEARRAY ----

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
  if (vt != VT_UI1) return nullptr;
  auto* array = static_cast<SAFEARRAY*>(std::calloc(1, sizeof(SAFEARRAY)));
  if (array == nullptr) return nullptr;
  array->pvData = std::calloc(cElements == 0 ? 1 : cElements, 1);
  if (array->pvData == nullptr) {
    std::free(array);
    return nullptr;
  }
  array->cDims = 1;
  array->cbElements = 1;
  array->rgsabound[0] = {cElements, lLbound};
  return array;
}

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound) {
  if (cDims != 1 || rgsabound == nullptr) return nullptr;
  return SafeArrayCreateVector(vt, rgsabound[0].lLbound, rgsabound[0].cElements);
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
  if (psa == nullptr) return S_OK;
  if (psa->cLocks > 0) return DISP_E_ARRAYISLOCKED;
  std::free(psa->pvData);
  std::free(psa);
  return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) {
  if (psa == nullptr || ppvData == nullptr) return E_INVALIDARG;
  ++psa->cLocks;
  *ppvData = psa->pvData;
  return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) {
  if (psa == nullptr) return E_INVALIDARG;
  if (psa->cLocks == 0) return E_UNEXPECTED;
  --psa->cLocks;
  return S_OK;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) {
  if (psa == nullptr || plLbound == nullptr) return E_INVALIDARG;
  if (nDim != 1) return DISP_E_BADINDEX;
  *plLbound = psa->rgsabound[0].lLbound;
  return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) {
  if (psa == nullptr || plUbound == nullptr) return E_INVALIDARG;
  if (nDim != 1) return DISP_E_BADINDEX;
  const auto upper = static_cast<long long>(psa->rgsabound[0].lLbound) +
                     static_cast<long long>(psa->rgsabound[0].cElements) - 1;
  *plUbound = static_cast<LONG>(upper);
  return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* psa) { return psa == nullptr ? 0 : psa->cDims; }

HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut) {
  if (ppsaOut == nullptr) return E_INVALIDARG;
  *ppsaOut = nullptr;
  if (psa == nullptr) return S_OK;
  SAFEARRAY* copy = SafeArrayCreateVector(VT_UI1, psa->rgsabound[0].lLbound,
                                          psa->rgsabound[0].cElements);
  if (copy == nullptr) return E_OUTOFMEMORY;
  std::memcpy(copy->pvData, psa->pvData, psa->rgsabound[0].cElements);
  *ppsaOut = copy;
  return S_OK;
}

// ---- VARIANT ----

void VariantInit(VARIANT* pvarg) {
  if (pvarg == nullptr) return;
  std::memset(pvarg, 0, sizeof *pvarg);
  pvarg->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* pvarg) {
  if (pvarg == nullptr) return E_INVALIDARG;
  if (!is_known_type(pvarg->vt)) return DISP_E_BADVARTYPE;
  if ((pvarg->vt & VT_BYREF) == 0) {
    if ((pvarg->vt & VT_ARRAY) != 0) {
      const HRESULT hr = SafeArrayDestroy(pvarg->parray);
      if (FAILED(hr)) return hr;
    } else if (pvarg->vt == VT_BSTR) {
      SysFreeString(pvarg->bstrVal);
    } else if ((pvarg->vt == VT_UNKNOWN || pvarg->vt == VT_DISPATCH) && pvarg->punkVal != nullptr) {
      pvarg->punkVal->Release();
    }
  }
  VariantInit(pvarg);
  return S_OK;
}

HRESULT VariantCopy(VARIANT* pvargDest, const VARIANT* pvargSrc) {
  if (pvargDest == nullptr || pvargSrc == nullptr) return E_INVALIDARG;
  if (pvargDest == pvargSrc) return S_OK;
  if (!is_known_type(pvargSrc->vt)) return DISP_E_BADVARTYPE;
  const HRESULT cleared = VariantClear(pvargDest);
  if (FAILED(cleared)) return cleared;
  VARIANT copy = *pvargSrc;
  if ((copy.vt & VT_BYREF) == 0) {
    if ((copy.vt & VT_ARRAY) != 0) {
      const HRESULT hr = SafeArrayCopy(pvargSrc->parray, &copy.parray);
      if (FAILED(hr)) return hr;
    } else if (copy.vt == VT_BSTR && pvargSrc->bstrVal != nullptr) {
      copy.bstrVal = SysAllocStringLen(pvargSrc->bstrVal, SysStringLen(pvargSrc->bstrVal));
      if (copy.bstrVal == nullptr) return E_OUTOFMEMORY;
    } else if ((copy.vt == VT_UNKNOWN || copy.vt == VT_DISPATCH) && copy.punkVal != nullptr) {
      copy.punkVal->AddRef();
    }
  }
  *pvargDest = copy;
  return S_OK;
}

HRESULT VariantChangeType(VARIANT* pvargDest, const VARIANT* pvarSrc, USHORT /*wFlags*/,
                          VARTYPE vt) {
  if (pvargDest == nullptr || pvarSrc == nullptr) return E_INVALIDARG;
  const VARIANT& src = *pvarSrc;
  if (!is_known_type(src.vt) || !is_known_type(vt)) return DISP_E_BADVARTYPE;

  VARIANT result;
  VariantInit(&result);
  if (src.vt == vt) {
    const HRESULT hr = VariantCopy(&result, &src);
    if (FAILED(hr)) return hr;
  } else if (vt == VT_EMPTY) {
    // result stays empty
  } else if ((src.vt & (VT_ARRAY | VT_BYREF)) != 0 || (vt & (VT_ARRAY | VT_BYREF)) != 0 ||
             src.vt == VT_NULL || src.vt == VT_ERROR) {
    return DISP_E_TYPEMISMATCH;
  } else if (vt == VT_DISPATCH || vt == VT_UNKNOWN) {
    if (src.vt != VT_DISPATCH && src.vt != VT_UNKNOWN) return DISP_E_TYPEMISMATCH;
    void* object = nullptr;
    if (src.punkVal != nullptr) {
      const HRESULT hr = src.punkVal->QueryInterface(vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown, &object);
      if (FAILED(hr)) return hr == E_NOINTERFACE ? DISP_E_TYPEMISMATCH : hr;
    }
    result.vt = vt;
    result.punkVal = static_cast<IUnknown*>(object);
  } else if (src.vt == VT_DISPATCH || src.vt == VT_UNKNOWN) {
    return DISP_E_TYPEMISMATCH;
  } else if (vt == VT_BSTR) {
    std::u16string text;
    switch (src.vt) {
      case VT_EMPTY: break;
      case VT_BOOL: text = src.boolVal != 0 ? u"-1" : u"0"; break;
      case VT_I2: text = format_long(src.iVal); break;
      case VT_I4: text = format_long(src.lVal); break;
      case VT_UI1: text = format_long(src.bVal); break;
      case VT_R4: text = format_double(static_cast<double>(src.fltVal)); break;
      case VT_R8: text = format_double(src.dblVal); break;
      default: return DISP_E_TYPEMISMATCH;
    }
    result.vt = VT_BSTR;
    result.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (result.bstrVal == nullptr) return E_OUTOFMEMORY;
  } else if (vt == VT_BOOL) {
    double value = 0;
    if (src.vt == VT_BSTR && same_ascii_nocase(bstr_view(src.bstrVal), "true")) {
      value = 1;
    } else if (src.vt == VT_BSTR && same_ascii_nocase(bstr_view(src.bstrVal), "false")) {
      value = 0;
    } else {
      const HRESULT hr = scalar_as_double(src, &value);
      if (FAILED(hr)) return hr;
    }
    result.vt = VT_BOOL;
    result.boolVal = value != 0 ? VARIANT_TRUE : VARIANT_FALSE;
  } else {
    double value = 0;
    const HRESULT hr = scalar_as_double(src, &value);
    if (FAILED(hr)) return hr;
    long long whole = 0;
    switch (vt) {
      case VT_R8:
        result.dblVal = value;
        break;
      case VT_R4:
        if (std::fabs(value) > std::numeric_limits<float>::max()) return DISP_E_OVERFLOW;
        result.fltVal = static_cast<float>(value);
        break;
      case VT_I4:
        if (!round_to_long(value, std::numeric_limits<LONG>::min(), std::numeric_limits<LONG>::max(), &whole)) return DISP_E_OVERFLOW;
        result.lVal = static_cast<LONG>(whole);
        break;
      case VT_I2:
        if (!round_to_long(value, std::numeric_limits<SHORT>::min(), std::numeric_limits<SHORT>::max(), &whole)) return DISP_E_OVERFLOW;
        result.iVal = static_cast<SHORT>(whole);
        break;
      case VT_UI1:
        if (!round_to_long(value, 0, 255, &whole)) return DISP_E_OVERFLOW;
        result.bVal = static_cast<BYTE>(whole);
        break;
      default:
        return DISP_E_TYPEMISMATCH;
    }
    result.vt = vt;
  }

  // The source may be the destination, so it is cleared only once the result stands.
  const HRESULT cleared = VariantClear(pvargDest);
  if (FAILED(cleared)) {
    VariantClear(&result);
    return cleared;
  }
  *pvargDest = result;
  return S_OK;
}
