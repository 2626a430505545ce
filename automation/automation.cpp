#include "automation/automation.h"

#include <algorithm>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "platform/codepage/codepage.h"

namespace {

std::string_view until_nul(std::string_view text) { return text.substr(0, text.find('\0')); }

// UTF-16 of the text up to its first NUL, with a NUL unit after it.
std::u16string to_wide(std::string_view text) {
  text = until_nul(text);
  std::u16string wide;
  if (text.empty() || text.size() > 0x7FFFFFFF) return wide;
  const int size = static_cast<int>(text.size());
  const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
  if (n <= 0) return wide;
  wide.resize(static_cast<std::size_t>(n));
  const int written = MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), n);
  wide.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
  return wide;
}

BSTR to_bstr(std::string_view text) {
  const std::u16string wide = to_wide(text);
  return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

Text from_wide(const OLECHAR* units, std::size_t count) {
  std::size_t n = 0;
  while (n < count && units[n] != 0) ++n;
  Text text;
  if (n == 0 || n > 0x7FFFFFFF) return text;
  const int size = static_cast<int>(n);
  const int bytes = WideCharToMultiByte(CP_ACP, 0, units, size, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return text;
  text.resize(static_cast<std::size_t>(bytes));
  const int written =
      WideCharToMultiByte(CP_ACP, 0, units, size, text.data(), bytes, nullptr, nullptr);
  text.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
  return text;
}

// The IDispatch of an object, as one reference of its own.
IDispatch* dispatch_of(IUnknown* object) {
  if (object == nullptr) return nullptr;
  void* dispatch = nullptr;
  if (FAILED(object->QueryInterface(IID_IDispatch, &dispatch))) return nullptr;
  return static_cast<IDispatch*>(dispatch);
}

// The VARIANTs of one call. Those made here are cleared afterwards; a Variant argument is
// passed as a shallow copy, since Invoke only reads its arguments and the caller keeps owning
// it (a page-sized string is not copied for the call).
class CallArgs {
 public:
  CallArgs() = default;
  CallArgs(const CallArgs&) = delete;
  CallArgs& operator=(const CallArgs&) = delete;
  ~CallArgs() {
    for (std::size_t i = 0; i < values_.size(); ++i) {
      if (owned_[i]) VariantClear(&values_[i]);
    }
  }

  bool add(const Arg& arg) {
    VARIANT v;
    VariantInit(&v);
    bool owned = true;
    switch (arg.kind()) {
      case Arg::Kind::Bool:
        v.vt = VT_BOOL;
        v.boolVal = arg.as_bool() ? VARIANT_TRUE : VARIANT_FALSE;
        break;
      case Arg::Kind::Int32:
        v.vt = VT_I4;
        v.lVal = arg.as_int32();
        break;
      case Arg::Kind::Double:
        v.vt = VT_R8;
        v.dblVal = arg.as_double();
        break;
      case Arg::Kind::String:
        v.vt = VT_BSTR;
        v.bstrVal = to_bstr(arg.as_text());
        if (v.bstrVal == nullptr) return false;
        break;
      case Arg::Kind::Object:
        if (IDispatch* dispatch = dispatch_of(arg.as_object().get())) {
          v.vt = VT_DISPATCH;
          v.pdispVal = dispatch;
        } else {
          v.vt = VT_UNKNOWN;
          v.punkVal = arg.as_object().get();
          owned = false;
        }
        break;
      case Arg::Kind::Value:
        v = arg.as_variant().get();
        owned = false;
        break;
    }
    values_.push_back(v);
    owned_.push_back(owned);
    return true;
  }

  VARIANT* data() { return values_.data(); }
  UINT size() const { return static_cast<UINT>(values_.size()); }

 private:
  std::vector<VARIANT> values_;
  std::vector<bool> owned_;
};

// One IDispatch call; the result goes into *result when the call succeeds.
HRESULT invoke(const ObjectRef& ref, std::string_view name, WORD flags, Args args,
               const Arg* put_value, Variant* result) {
  IDispatch* const dispatch = dispatch_of(ref.get());
  if (dispatch == nullptr) return E_NOINTERFACE;
  const ObjectRef dispatch_ref = ObjectRef::attach(dispatch);

  std::u16string wide_name = to_wide(name);
  wide_name.push_back(0);
  LPOLESTR names[] = {wide_name.data()};
  DISPID dispid = DISPID_UNKNOWN;
  HRESULT hr = dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &dispid);
  if (FAILED(hr)) return hr;

  // rgvarg holds a put's value first, then the positional arguments last to first.
  CallArgs call_args;
  if (put_value != nullptr && !call_args.add(*put_value)) return E_OUTOFMEMORY;
  for (auto it = std::rbegin(args); it != std::rend(args); ++it) {
    if (!call_args.add(*it)) return E_OUTOFMEMORY;
  }
  DISPID put_id = DISPID_PROPERTYPUT;
  DISPPARAMS params{};
  params.cArgs = call_args.size();
  params.rgvarg = call_args.data();
  if (put_value != nullptr) {
    params.cNamedArgs = 1;
    params.rgdispidNamedArgs = &put_id;
  }
  Variant answer;
  hr = dispatch->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, answer.receive(),
                        nullptr, nullptr);
  if (FAILED(hr)) return hr;
  if (result != nullptr) *result = std::move(answer);
  return S_OK;
}

bool change_type(const Variant& value, VARTYPE vt, Variant* out) {
  return SUCCEEDED(VariantChangeType(out->receive(), &value.get(), 0, vt));
}

template <AutomationKind Wanted>
Wanted convert(const Variant& value) {
  if constexpr (std::same_as<Wanted, Variant>) {
    return value;
  } else if constexpr (std::same_as<Wanted, Text>) {
    return variant_to_text(value);
  } else if constexpr (std::same_as<Wanted, double>) {
    Variant converted;
    return change_type(value, VT_R8, &converted) ? converted.get().dblVal : 0.0;
  } else if constexpr (std::same_as<Wanted, bool>) {
    Variant converted;
    return change_type(value, VT_BOOL, &converted) && converted.get().boolVal != VARIANT_FALSE;
  } else {
    Variant converted;
    if (!change_type(value, VT_UNKNOWN, &converted) || converted.get().punkVal == nullptr) {
      return ObjectRef();
    }
    IUnknown* object = converted.get().punkVal;
    object->AddRef();
    return ObjectRef::attach(object);
  }
}

template <AutomationKind Wanted>
Wanted call(const ObjectRef& ref, std::string_view name, WORD flags, Args args) {
  Variant result;
  if (FAILED(invoke(ref, name, flags, args, nullptr, &result))) return Wanted{};
  return convert<Wanted>(result);
}

}  // namespace

// ---- ObjectRef ----

ObjectRef ObjectRef::attach(IUnknown* object) {
  ObjectRef ref;
  ref.object_ = object;
  return ref;
}

ObjectRef::ObjectRef(const ObjectRef& other) : object_(other.object_) {
  if (object_ != nullptr) object_->AddRef();
}

ObjectRef::ObjectRef(ObjectRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}

ObjectRef& ObjectRef::operator=(const ObjectRef& other) {
  // Taken before clearing, which also covers assigning a reference to itself.
  IUnknown* const object = other.object_;
  if (object != nullptr) object->AddRef();
  clear();
  object_ = object;
  return *this;
}

ObjectRef& ObjectRef::operator=(ObjectRef&& other) noexcept {
  if (this != &other) {
    clear();
    object_ = std::exchange(other.object_, nullptr);
  }
  return *this;
}

ObjectRef::~ObjectRef() { clear(); }

void ObjectRef::clear() {
  // Released after the member is emptied, so a Release that reaches back finds it empty.
  if (IUnknown* object = std::exchange(object_, nullptr)) object->Release();
}

// ---- Variant ----

Variant::Variant() { VariantInit(&value_); }

Variant::Variant(const Variant& other) {
  VariantInit(&value_);
  VariantCopy(&value_, &other.value_);
}

Variant::Variant(Variant&& other) noexcept : value_(other.value_) { VariantInit(&other.value_); }

Variant& Variant::operator=(const Variant& other) {
  if (this != &other) {
    Variant copy(other);
    *this = std::move(copy);
  }
  return *this;
}

Variant& Variant::operator=(Variant&& other) noexcept {
  if (this != &other) {
    clear();
    value_ = other.value_;
    VariantInit(&other.value_);
  }
  return *this;
}

Variant::~Variant() { clear(); }

void Variant::clear() {
  if (FAILED(VariantClear(&value_))) VariantInit(&value_);
}

VARIANT* Variant::receive() {
  clear();
  return &value_;
}

void Variant::set_text(std::string_view text) {
  clear();
  const BSTR bstr = to_bstr(text);
  if (bstr == nullptr) return;
  value_.vt = VT_BSTR;
  value_.bstrVal = bstr;
}

void Variant::set_bytes(const Bytes& bytes) {
  clear();
  if (bytes.size() > 0xFFFFFFFFu) return;
  SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 1, static_cast<ULONG>(bytes.size()));
  if (array == nullptr) return;
  void* data = nullptr;
  if (SUCCEEDED(SafeArrayAccessData(array, &data))) {
    if (!bytes.empty()) std::copy(bytes.begin(), bytes.end(), static_cast<BYTE*>(data));
    SafeArrayUnaccessData(array);
  }
  value_.vt = VT_ARRAY | VT_UI1;
  value_.parray = array;
}

void Variant::set_bool(bool value) {
  clear();
  value_.vt = VT_BOOL;
  value_.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
}

void Variant::set_int32(std::int32_t value) {
  clear();
  value_.vt = VT_I4;
  value_.lVal = value;
}

void Variant::set_double(double value) {
  clear();
  value_.vt = VT_R8;
  value_.dblVal = value;
}

// ---- Calls ----

bool create_object(ObjectRef& ref, std::string_view progid) {
  std::u16string name = to_wide(progid);
  name.push_back(0);
  CLSID clsid{};
  const HRESULT found = progid.substr(0, 1) == "{" ? CLSIDFromString(name.data(), &clsid)
                                                   : CLSIDFromProgID(name.data(), &clsid);
  if (FAILED(found)) return false;

  void* made = nullptr;
  HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IUnknown, &made);
  if (hr == E_INVALIDARG) {
    hr = CoCreateInstance(clsid, nullptr,
                          CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER,
                          IID_IUnknown, &made);
  }
  if (FAILED(hr) || made == nullptr) return false;
  ObjectRef object = ObjectRef::attach(static_cast<IUnknown*>(made));
  if (FAILED(OleRun(object.get()))) return false;  // object releases the new one
  ref = std::move(object);
  return true;
}

template <AutomationKind Wanted>
Wanted read_property(const ObjectRef& ref, std::string_view name, Args args) {
  return call<Wanted>(ref, name, DISPATCH_PROPERTYGET, args);
}

template <AutomationKind Wanted>
Wanted call_method(const ObjectRef& ref, std::string_view name, Args args) {
  return call<Wanted>(ref, name, DISPATCH_METHOD, args);
}

template Text read_property<Text>(const ObjectRef&, std::string_view, Args);
template double read_property<double>(const ObjectRef&, std::string_view, Args);
template bool read_property<bool>(const ObjectRef&, std::string_view, Args);
template ObjectRef read_property<ObjectRef>(const ObjectRef&, std::string_view, Args);
template Variant read_property<Variant>(const ObjectRef&, std::string_view, Args);
template Text call_method<Text>(const ObjectRef&, std::string_view, Args);
template double call_method<double>(const ObjectRef&, std::string_view, Args);
template bool call_method<bool>(const ObjectRef&, std::string_view, Args);
template ObjectRef call_method<ObjectRef>(const ObjectRef&, std::string_view, Args);
template Variant call_method<Variant>(const ObjectRef&, std::string_view, Args);

bool write_property(const ObjectRef& ref, std::string_view name, const Arg& value) {
  return SUCCEEDED(invoke(ref, name, DISPATCH_PROPERTYPUT, {}, &value, nullptr));
}

Text variant_to_text(const Variant& value) {
  if (value.type() == VT_BSTR) {
    return from_wide(value.get().bstrVal, SysStringLen(value.get().bstrVal));
  }
  Variant converted;
  if (!change_type(value, VT_BSTR, &converted)) return Text();
  return from_wide(converted.get().bstrVal, SysStringLen(converted.get().bstrVal));
}
