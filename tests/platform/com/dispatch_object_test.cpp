#include "platform/com/dispatch_object.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr HRESULT object_error = make_hresult(0x800A0005);

class Counter final : public DispatchObject {
 public:
  LONG value = 0;

 private:
  static constexpr DispatchMember table[] = {
      {.name = "Value", .dispid = 0, .kinds = dispatch_get | dispatch_put},
      {.name = "Add", .dispid = 1, .kinds = dispatch_method, .min_args = 1, .max_args = 2},
      {.name = "Limit", .dispid = 2, .kinds = dispatch_get},
  };
  std::span<const DispatchMember> members() const override { return table; }
  HRESULT invoke_member(DISPID dispid, WORD kind, const DispatchArgs& args,
                        VARIANT* result) override {
    if (dispid == 0 && kind == dispatch_put) return variant_to_long(*args.put_value(), &value);
    if (dispid == 0) return return_long(result, value);
    if (dispid == 2) return return_long(result, 100);
    LONG sum = value;
    for (UINT i = 0; i < args.count(); ++i) {
      LONG add = 0;
      const HRESULT hr = variant_to_long(args[i], &add);
      if (FAILED(hr)) return hr;
      // args[0] is the first argument in call order, so "Add(1000, x)" is refused.
      if (i == 0 && add >= 1000) return args.raise(object_error);
      sum += add;
    }
    if (sum > 100) return args.raise(object_error);
    value = sum;
    return return_long(result, value);
  }
};

struct Call {
  DISPID dispid;
  WORD flags;
  std::vector<LONG> args = {};  // in call order
  bool as_put = false;
};

HRESULT invoke(Counter& counter, const Call& call, VARIANT* result, EXCEPINFO* excep) {
  std::vector<VARIANT> rgvarg;
  for (auto it = call.args.rbegin(); it != call.args.rend(); ++it) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = *it;
    rgvarg.push_back(v);
  }
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params{rgvarg.data(), call.as_put ? &named : nullptr,
                    static_cast<UINT>(rgvarg.size()), call.as_put ? 1u : 0u};
  return counter.Invoke(call.dispid, IID_NULL, LOCALE_USER_DEFAULT, call.flags, &params, result,
                        excep, nullptr);
}

TEST(DispatchObject, BindsNamesWithoutCase) {
  Counter* counter = new_dispatch_object<Counter>();
  struct Row {
    const char* name;
    const char16_t* member;
    HRESULT want;
    DISPID want_id;
  };
  const Row rows[] = {
      {.name = "as declared", .member = u"Add", .want = S_OK, .want_id = 1},
      {.name = "upper", .member = u"LIMIT", .want = S_OK, .want_id = 2},
      {.name = "lower", .member = u"value", .want = S_OK, .want_id = 0},
      {.name = "prefix", .member = u"Ad", .want = DISP_E_UNKNOWNNAME, .want_id = DISPID_UNKNOWN},
      {.name = "longer", .member = u"Adds", .want = DISP_E_UNKNOWNNAME, .want_id = DISPID_UNKNOWN},
      {.name = "non-ASCII fold", .member = u"\u0130imit", .want = DISP_E_UNKNOWNNAME, .want_id = DISPID_UNKNOWN},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    LPOLESTR names[] = {const_cast<LPOLESTR>(row.member)};
    DISPID id = 42;
    EXPECT_EQ(counter->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), row.want);
    EXPECT_EQ(id, row.want_id);
  }
  EXPECT_EQ(counter->Release(), 0u);
}

TEST(DispatchObject, ChecksCallsBeforeTheObjectSeesThem) {
  struct Row {
    const char* name;
    Call call;
    HRESULT want;
    LONG want_value;          // Value afterwards (starts at 5)
    LONG want_result = 0;     // I4 result when it succeeded
    HRESULT want_scode = 0;   // in EXCEPINFO
  };
  const Row rows[] = {
      {.name = "get", .call = {.dispid = 0, .flags = DISPATCH_PROPERTYGET}, .want = S_OK, .want_value = 5, .want_result = 5},
      {.name = "get called as method", .call = {.dispid = 2, .flags = DISPATCH_METHOD}, .want = S_OK, .want_value = 5, .want_result = 100},
      {.name = "put", .call = {.dispid = 0, .flags = DISPATCH_PROPERTYPUT, .args = {9}, .as_put = true}, .want = S_OK, .want_value = 9},
      {.name = "method one arg", .call = {.dispid = 1, .flags = DISPATCH_METHOD, .args = {2}}, .want = S_OK, .want_value = 7, .want_result = 7},
      {.name = "method two args", .call = {.dispid = 1, .flags = DISPATCH_METHOD | DISPATCH_PROPERTYGET, .args = {2, 3}}, .want = S_OK, .want_value = 10, .want_result = 10},
      // refused by the base
      {.name = "too many args", .call = {.dispid = 1, .flags = DISPATCH_METHOD, .args = {1, 2, 3}}, .want = DISP_E_BADPARAMCOUNT, .want_value = 5},
      {.name = "too few args", .call = {.dispid = 1, .flags = DISPATCH_METHOD}, .want = DISP_E_BADPARAMCOUNT, .want_value = 5},
      {.name = "arg to a get", .call = {.dispid = 0, .flags = DISPATCH_PROPERTYGET, .args = {1}}, .want = DISP_E_BADPARAMCOUNT, .want_value = 5},
      {.name = "put without named arg", .call = {.dispid = 0, .flags = DISPATCH_PROPERTYPUT, .args = {9}}, .want = DISP_E_PARAMNOTFOUND, .want_value = 5},
      {.name = "put to read-only", .call = {.dispid = 2, .flags = DISPATCH_PROPERTYPUT, .args = {9}, .as_put = true}, .want = DISP_E_MEMBERNOTFOUND, .want_value = 5},
      {.name = "get of a method", .call = {.dispid = 1, .flags = DISPATCH_PROPERTYGET, .args = {1}}, .want = DISP_E_MEMBERNOTFOUND, .want_value = 5},
      {.name = "unknown dispid", .call = {.dispid = 77, .flags = DISPATCH_METHOD}, .want = DISP_E_MEMBERNOTFOUND, .want_value = 5},
      // raised by the object, with its code handed over
      {.name = "object error", .call = {.dispid = 1, .flags = DISPATCH_METHOD, .args = {200}}, .want = DISP_E_EXCEPTION, .want_value = 5, .want_scode = object_error},
      {.name = "arguments in call order", .call = {.dispid = 1, .flags = DISPATCH_METHOD, .args = {1000, -999}}, .want = DISP_E_EXCEPTION, .want_value = 5, .want_scode = object_error},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Counter* counter = new_dispatch_object<Counter>();
    counter->value = 5;
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO excep{};
    EXPECT_EQ(invoke(*counter, row.call, &result, &excep), row.want);
    EXPECT_EQ(counter->value, row.want_value);
    EXPECT_EQ(excep.scode, row.want_scode);
    if (row.want == S_OK && !row.call.as_put) {
      EXPECT_EQ(result.vt, VT_I4);
      EXPECT_EQ(result.lVal, row.want_result);
    } else {
      EXPECT_EQ(result.vt, VT_EMPTY);
    }
    VariantClear(&result);
    EXPECT_EQ(counter->Release(), 0u);
  }
}

TEST(DispatchObject, CountsLiveObjectsAndInterfaces) {
  const long before = dispatch_object_count();
  Counter* counter = new_dispatch_object<Counter>();
  EXPECT_EQ(dispatch_object_count(), before + 1);
  void* unknown = nullptr;
  ASSERT_EQ(counter->QueryInterface(IID_IUnknown, &unknown), S_OK);
  const IID other = {1, 1, 1, {1, 1, 1, 1, 1, 1, 1, 1}};
  void* none = counter;
  EXPECT_EQ(counter->QueryInterface(other, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(counter->Release(), 1u);
  EXPECT_EQ(static_cast<IUnknown*>(unknown)->Release(), 0u);
  EXPECT_EQ(dispatch_object_count(), before);
}

}  // namespace
