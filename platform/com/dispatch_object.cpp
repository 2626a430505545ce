#include "platform/com/dispatch_object.h"

#include <atomic>

namespace {

std::atomic<long> live_objects{0};

char16_t fold_ascii(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

bool name_matches(LPCOLESTR asked, std::string_view name) {
  std::size_t i = 0;
  for (; i < name.size(); ++i) {
    if (asked[i] == 0) return false;
    if (fold_ascii(asked[i]) != fold_ascii(static_cast<char16_t>(name[i]))) return false;
  }
  return asked[i] == 0;
}

const DispatchMember* find_member(std::span<const DispatchMember> members, DISPID dispid) {
  for (const DispatchMember& member : members) {
    if (member.dispid == dispid) return &member;
  }
  return nullptr;
}

}  // namespace

const VARIANT& DispatchArgs::operator[](UINT index) const {
  // rgvarg holds the named arguments first and the positional ones last to first.
  const VARIANT& arg = params_.rgvarg[params_.cArgs - 1 - index];
  if (arg.vt == (VT_BYREF | VT_VARIANT) && arg.pvarVal != nullptr) return *arg.pvarVal;
  return arg;
}

HRESULT DispatchArgs::raise(HRESULT scode) const {
  if (excep_info_ != nullptr) {
    *excep_info_ = EXCEPINFO{};
    excep_info_->scode = scode;
  }
  return DISP_E_EXCEPTION;
}

HRESULT variant_to_bool(const VARIANT& value, bool* out) {
  VARIANT converted;
  VariantInit(&converted);
  const HRESULT hr = VariantChangeType(&converted, &value, 0, VT_BOOL);
  if (FAILED(hr)) return hr;
  *out = converted.boolVal != VARIANT_FALSE;
  return S_OK;
}

HRESULT variant_to_long(const VARIANT& value, LONG* out) {
  VARIANT converted;
  VariantInit(&converted);
  const HRESULT hr = VariantChangeType(&converted, &value, 0, VT_I4);
  if (FAILED(hr)) return hr;
  *out = converted.lVal;
  return S_OK;
}

HRESULT variant_to_string(const VARIANT& value, std::u16string* out) {
  if (value.vt == VT_BSTR) {
    out->assign(value.bstrVal, SysStringLen(value.bstrVal));
    return S_OK;
  }
  VARIANT converted;
  VariantInit(&converted);
  const HRESULT hr = VariantChangeType(&converted, &value, 0, VT_BSTR);
  if (FAILED(hr)) return hr;
  out->assign(converted.bstrVal, SysStringLen(converted.bstrVal));
  VariantClear(&converted);
  return S_OK;
}

HRESULT return_bool(VARIANT* result, bool value) {
  if (result == nullptr) return S_OK;
  VariantClear(result);
  result->vt = VT_BOOL;
  result->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

HRESULT return_long(VARIANT* result, LONG value) {
  if (result == nullptr) return S_OK;
  VariantClear(result);
  result->vt = VT_I4;
  result->lVal = value;
  return S_OK;
}

HRESULT return_string(VARIANT* result, std::u16string_view value) {
  if (result == nullptr) return S_OK;
  const BSTR text = SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
  if (text == nullptr) return E_OUTOFMEMORY;
  VariantClear(result);
  result->vt = VT_BSTR;
  result->bstrVal = text;
  return S_OK;
}

HRESULT return_object(VARIANT* result, IDispatch* object) {
  if (result == nullptr) return S_OK;
  VariantClear(result);
  if (object != nullptr) object->AddRef();
  result->vt = VT_DISPATCH;
  result->pdispVal = object;
  return S_OK;
}

DispatchObject::DispatchObject() { ++live_objects; }
DispatchObject::~DispatchObject() { --live_objects; }

long dispatch_object_count() { return live_objects.load(); }

HRESULT DispatchObject::QueryInterface(REFIID riid, void** ppvObject) {
  if (ppvObject == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IDispatch) {
    *ppvObject = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *ppvObject = nullptr;
  return E_NOINTERFACE;
}

ULONG DispatchObject::AddRef() { return ++references_; }

ULONG DispatchObject::Release() {
  const ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

HRESULT DispatchObject::GetTypeInfoCount(UINT* pctinfo) {
  if (pctinfo == nullptr) return E_POINTER;
  *pctinfo = 0;
  return S_OK;
}

HRESULT DispatchObject::GetTypeInfo(UINT /*iTInfo*/, LCID /*lcid*/, ITypeInfo** ppTInfo) {
  if (ppTInfo != nullptr) *ppTInfo = nullptr;
  return E_NOTIMPL;
}

HRESULT DispatchObject::GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames,
                                      LCID /*lcid*/, DISPID* rgDispId) {
  if (!(riid == IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (rgszNames == nullptr || rgDispId == nullptr || cNames == 0) return E_INVALIDARG;
  for (UINT i = 0; i < cNames; ++i) rgDispId[i] = DISPID_UNKNOWN;
  if (rgszNames[0] == nullptr) return DISP_E_UNKNOWNNAME;
  for (const DispatchMember& member : members()) {
    if (name_matches(rgszNames[0], member.name)) {
      rgDispId[0] = member.dispid;
      // The members take no named arguments, so argument names never bind.
      return cNames == 1 ? S_OK : DISP_E_UNKNOWNNAME;
    }
  }
  return DISP_E_UNKNOWNNAME;
}

HRESULT DispatchObject::Invoke(DISPID dispIdMember, REFIID riid, LCID /*lcid*/, WORD wFlags,
                               DISPPARAMS* pDispParams, VARIANT* pVarResult,
                               EXCEPINFO* pExcepInfo, UINT* /*puArgErr*/) {
  if (!(riid == IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (pDispParams == nullptr) return E_INVALIDARG;
  const DISPPARAMS& params = *pDispParams;
  if (params.cNamedArgs > params.cArgs || (params.cArgs > 0 && params.rgvarg == nullptr) ||
      (params.cNamedArgs > 0 && params.rgdispidNamedArgs == nullptr)) {
    return E_INVALIDARG;
  }
  const DispatchMember* member = find_member(members(), dispIdMember);
  if (member == nullptr) return DISP_E_MEMBERNOTFOUND;

  WORD kind = 0;
  if ((wFlags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0) {
    if ((member->kinds & dispatch_put) != 0) kind = dispatch_put;
  } else if ((wFlags & DISPATCH_METHOD) != 0 && (member->kinds & dispatch_method) != 0) {
    kind = dispatch_method;
  } else if ((wFlags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD)) != 0 &&
             (member->kinds & dispatch_get) != 0) {
    kind = dispatch_get;
  }
  if (kind == 0) return DISP_E_MEMBERNOTFOUND;

  const VARIANT* put_value = nullptr;
  if (kind == dispatch_put) {
    if (params.cNamedArgs != 1 || params.rgdispidNamedArgs[0] != DISPID_PROPERTYPUT) {
      return DISP_E_PARAMNOTFOUND;
    }
    put_value = &params.rgvarg[0];
    if (put_value->vt == (VT_BYREF | VT_VARIANT) && put_value->pvarVal != nullptr) {
      put_value = put_value->pvarVal;
    }
  } else if (params.cNamedArgs != 0) {
    return DISP_E_NONAMEDARGS;
  }
  const UINT positional = params.cArgs - params.cNamedArgs;
  if (positional < member->min_args || positional > member->max_args) return DISP_E_BADPARAMCOUNT;

  VARIANT* result = kind == dispatch_put ? nullptr : pVarResult;
  if (result != nullptr) VariantInit(result);
  const DispatchArgs args(params, positional, put_value, pExcepInfo);
  const HRESULT hr = invoke_member(dispIdMember, kind, args, result);
  if (FAILED(hr) && result != nullptr) VariantClear(result);
  return hr;
}
