#include "tests/support/fake_dispatch.h"

namespace {

char16_t fold(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

bool same_name(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

}  // namespace

FakeDispatch::~FakeDispatch() {
  for (Member& member : members_) VariantClear(&member.result);
}

FakeDispatch::Member& FakeDispatch::add(std::u16string name, UINT max_args) {
  if (members_.capacity() == 0) members_.reserve(32);
  Member member;
  member.name = std::move(name);
  member.dispid = static_cast<DISPID>(members_.size()) + 100;
  member.max_args = max_args;
  VariantInit(&member.result);
  members_.push_back(std::move(member));
  return members_.back();
}

void FakeDispatch::set_result_text(Member& member, std::u16string_view text) {
  VariantClear(&member.result);
  member.result.vt = VT_BSTR;
  member.result.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

void FakeDispatch::set_result_i4(Member& member, LONG value) {
  VariantClear(&member.result);
  member.result.vt = VT_I4;
  member.result.lVal = value;
}

void FakeDispatch::set_result_r8(Member& member, double value) {
  VariantClear(&member.result);
  member.result.vt = VT_R8;
  member.result.dblVal = value;
}

void FakeDispatch::set_result_bool(Member& member, bool value) {
  VariantClear(&member.result);
  member.result.vt = VT_BOOL;
  member.result.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
}

void FakeDispatch::set_result_object(Member& member, IUnknown* object) {
  VariantClear(&member.result);
  object->AddRef();
  member.result.vt = VT_UNKNOWN;
  member.result.punkVal = object;
}

HRESULT FakeDispatch::QueryInterface(REFIID riid, void** ppvObject) {
  if (riid == IID_IUnknown || (offer_dispatch && riid == IID_IDispatch)) {
    *ppvObject = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *ppvObject = nullptr;
  return E_NOINTERFACE;
}

ULONG FakeDispatch::AddRef() { return ++references_; }
ULONG FakeDispatch::Release() { return --references_; }

HRESULT FakeDispatch::GetTypeInfoCount(UINT* pctinfo) {
  *pctinfo = 0;
  return S_OK;
}

HRESULT FakeDispatch::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }

HRESULT FakeDispatch::GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID,
                                    DISPID* rgDispId) {
  if (cNames != 1) return E_INVALIDARG;
  names_looked_up.emplace_back(rgszNames[0]);
  for (const Member& member : members_) {
    if (same_name(member.name, rgszNames[0])) {
      rgDispId[0] = member.dispid;
      return S_OK;
    }
  }
  rgDispId[0] = DISPID_UNKNOWN;
  return DISP_E_UNKNOWNNAME;
}

HRESULT FakeDispatch::Invoke(DISPID dispIdMember, REFIID, LCID, WORD wFlags,
                             DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO*, UINT*) {
  Invocation seen{.dispid = dispIdMember, .flags = wFlags, .named = {}, .arg_types = {},
                  .arg_strings = {}, .arg_numbers = {}};
  const DISPPARAMS& params = *pDispParams;
  for (UINT i = 0; i < params.cNamedArgs; ++i) seen.named.push_back(params.rgdispidNamedArgs[i]);
  for (UINT i = params.cArgs; i-- > params.cNamedArgs;) {
    const VARIANT& arg = params.rgvarg[i];
    seen.arg_types.push_back(arg.vt);
    seen.arg_strings.push_back(arg.vt == VT_BSTR ? std::u16string(arg.bstrVal, SysStringLen(arg.bstrVal)) : u"");
    seen.arg_numbers.push_back(arg.vt == VT_I4 ? arg.lVal : arg.vt == VT_R8 ? arg.dblVal : arg.vt == VT_BOOL ? arg.boolVal : 0);
  }
  invocations.push_back(seen);

  Member* member = nullptr;
  for (Member& candidate : members_) {
    if (candidate.dispid == dispIdMember) member = &candidate;
  }
  if (member == nullptr) return DISP_E_MEMBERNOTFOUND;
  if (FAILED(member->fail)) return member->fail;
  if (params.cArgs - params.cNamedArgs > member->max_args) return DISP_E_BADPARAMCOUNT;
  if ((wFlags & DISPATCH_PROPERTYPUT) != 0) {
    if (params.cNamedArgs != 1 || params.rgdispidNamedArgs[0] != DISPID_PROPERTYPUT) {
      return DISP_E_PARAMNOTFOUND;
    }
    return VariantCopy(&member->result, &params.rgvarg[0]);
  }
  if (pVarResult != nullptr) return VariantCopy(pVarResult, &member->result);
  return S_OK;
}
