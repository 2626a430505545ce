#pragma once

// An IDispatch for automation tests: members are set up by the test, every lookup and call is
// recorded, and any member can be made to fail. The test owns the object (no Release deletes
// it), so it can check afterwards that every reference it handed out came back.

#include <string>
#include <vector>

#include "platform/com/com.h"
#include "platform/com/oleauto.h"

class FakeDispatch final : public IDispatch {
 public:
  struct Member {
    std::u16string name;    // bound without regard to ASCII case
    DISPID dispid = 0;
    UINT max_args = 0;      // more positional arguments give DISP_E_BADPARAMCOUNT
    HRESULT fail = S_OK;    // returned by Invoke instead of answering
    VARIANT result{};       // answer of a get or a method; a put stores its value here
  };

  // One Invoke as the fake saw it; the arguments in call order.
  struct Invocation {
    DISPID dispid;
    WORD flags;
    std::vector<DISPID> named;
    std::vector<VARTYPE> arg_types;
    std::vector<std::u16string> arg_strings;  // the BSTR arguments, "" for other types
    std::vector<double> arg_numbers;          // VT_I4 / VT_R8 / VT_BOOL values, else 0
  };

  FakeDispatch() = default;
  FakeDispatch(const FakeDispatch&) = delete;
  FakeDispatch& operator=(const FakeDispatch&) = delete;
  ~FakeDispatch();

  // Adds a member with an empty result and gives it back for setting up.
  Member& add(std::u16string name, UINT max_args = 0);
  void set_result_text(Member& member, std::u16string_view text);
  void set_result_i4(Member& member, LONG value);
  void set_result_r8(Member& member, double value);
  void set_result_bool(Member& member, bool value);
  void set_result_object(Member& member, IUnknown* object);  // adds a reference

  bool offer_dispatch = true;  // false: QueryInterface refuses IID_IDispatch
  std::vector<std::u16string> names_looked_up;
  std::vector<Invocation> invocations;
  [[nodiscard]] ULONG references() const { return references_; }

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

 private:
  std::vector<Member> members_;  // reserved up front so references to members stay valid
  ULONG references_ = 1;
};
