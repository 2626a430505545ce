#pragma once

// A base for automation objects written in C++, so a class states its members in a table and
// answers one call at a time.
//
// A class derives from DispatchObject, lists its members (name, DISPID, the kinds of call they
// answer, argument counts) and implements invoke_member. The base supplies the rest of
// IUnknown and IDispatch:
// - QueryInterface answers IUnknown and IDispatch, AddRef/Release count and the last Release
//   deletes the object;
// - GetIDsOfNames binds a name to a member without regard to ASCII case, DISP_E_UNKNOWNNAME
//   otherwise;
// - Invoke refuses, before the class sees the call, an unknown DISPID (DISP_E_MEMBERNOTFOUND),
//   a kind of call the member does not answer (DISP_E_MEMBERNOTFOUND), a put without the named
//   argument DISPID_PROPERTYPUT (DISP_E_PARAMNOTFOUND), any other named argument
//   (DISP_E_NONAMEDARGS), and fewer or more positional arguments than the member takes
//   (DISP_E_BADPARAMCOUNT); a get also answers a DISPATCH_METHOD call, as scripting callers
//   make one for "obj.Prop".
//
// invoke_member gets the arguments in call order. It returns S_OK with the result set, or an
// error: a refused argument with its own code (DISP_E_TYPEMISMATCH), an error of the object
// through args.raise(code), which hands the code over in EXCEPINFO and gives DISP_E_EXCEPTION.
//
//   class Counter final : public DispatchObject {
//     static constexpr DispatchMember table[] = {
//         {.name = "Value", .dispid = 0, .kinds = dispatch_get | dispatch_put},
//         {.name = "Add", .dispid = 1, .kinds = dispatch_method, .min_args = 1, .max_args = 1}};
//     std::span<const DispatchMember> members() const override { return table; }
//     HRESULT invoke_member(DISPID, WORD kind, const DispatchArgs& args, VARIANT* result) override;
//   };
//   IDispatch* counter = new_dispatch_object<Counter>();  // one reference, for the caller

#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "platform/com/com.h"
#include "platform/com/oleauto.h"

constexpr WORD dispatch_method = DISPATCH_METHOD;
constexpr WORD dispatch_get = DISPATCH_PROPERTYGET;
constexpr WORD dispatch_put = DISPATCH_PROPERTYPUT;

struct DispatchMember {
  std::string_view name;  // ASCII
  DISPID dispid = 0;
  WORD kinds = 0;         // dispatch_method, or dispatch_get with or without dispatch_put
  UINT min_args = 0;      // positional arguments of a method or get (a put's value aside)
  UINT max_args = 0;
};

// The arguments of one call, in call order; a VT_BYREF | VT_VARIANT argument is seen through.
class DispatchArgs {
 public:
  DispatchArgs(const DISPPARAMS& params, UINT positional_count, const VARIANT* put_value,
               EXCEPINFO* excep_info)
      : params_(params), count_(positional_count), put_value_(put_value), excep_info_(excep_info) {}

  [[nodiscard]] UINT count() const { return count_; }
  // The argument at index (0 = first in call order); index must be below count().
  [[nodiscard]] const VARIANT& operator[](UINT index) const;
  // The value of a put; null for a get or a method.
  [[nodiscard]] const VARIANT* put_value() const { return put_value_; }

  // An error raised inside the object: the code goes into EXCEPINFO when the caller gave one.
  [[nodiscard]] HRESULT raise(HRESULT scode) const;

 private:
  const DISPPARAMS& params_;
  UINT count_;
  const VARIANT* put_value_;
  EXCEPINFO* excep_info_;
};

// Reading arguments: VariantChangeType without flags, so a refused value gives its HRESULT.
[[nodiscard]] HRESULT variant_to_bool(const VARIANT& value, bool* out);
[[nodiscard]] HRESULT variant_to_long(const VARIANT& value, LONG* out);
[[nodiscard]] HRESULT variant_to_string(const VARIANT& value, std::u16string* out);

// Setting results; each does nothing when result is null (the caller wants none). A string
// that cannot be allocated gives E_OUTOFMEMORY; return_object adds a reference for the result.
HRESULT return_bool(VARIANT* result, bool value);
HRESULT return_long(VARIANT* result, LONG value);
HRESULT return_string(VARIANT* result, std::u16string_view value);
HRESULT return_object(VARIANT* result, IDispatch* object);

class DispatchObject : public IDispatch {
 public:
  DispatchObject(const DispatchObject&) = delete;
  DispatchObject& operator=(const DispatchObject&) = delete;

  HRESULT QueryInterface(REFIID riid, void** ppvObject) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT GetTypeInfoCount(UINT* pctinfo) override;
  HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                        DISPID* rgDispId) override;
  HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                 DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                 UINT* puArgErr) override;

 protected:
  DispatchObject();
  virtual ~DispatchObject();

  [[nodiscard]] virtual std::span<const DispatchMember> members() const = 0;
  // kind is exactly one of dispatch_method, dispatch_get, dispatch_put; result is VT_EMPTY
  // or null.
  virtual HRESULT invoke_member(DISPID dispid, WORD kind, const DispatchArgs& args,
                                VARIANT* result) = 0;

 private:
  ULONG references_ = 1;
};

// A new object with one reference for the caller.
template <class T, class... A>
[[nodiscard]] T* new_dispatch_object(A&&... args) {
  return new T(std::forward<A>(args)...);
}

// ---- Diagnostics for tests ----

// How many DispatchObject instances are alive in the process.
[[nodiscard]] long dispatch_object_count();
