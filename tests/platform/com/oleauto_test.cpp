#include "platform/com/oleauto.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/com/dispatch_object.h"

namespace {

VARIANT make_i4(LONG value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = value;
  return v;
}
VARIANT make_r8(double value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_R8;
  v.dblVal = value;
  return v;
}
VARIANT make_bool(bool value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BOOL;
  v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}
VARIANT make_bstr(std::u16string_view text) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return v;
}
VARIANT make_vt(VARTYPE vt) {
  VARIANT v;
  VariantInit(&v);
  v.vt = vt;
  return v;
}

std::u16string bstr_text(BSTR b) { return {b, SysStringLen(b)}; }

TEST(Bstr, LengthPrefixAndTerminator) {
  const char16_t with_nul[] = {u'a', 0, u'b'};
  BSTR b = SysAllocStringLen(with_nul, 3);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(SysStringLen(b), 3u);
  EXPECT_EQ(SysStringByteLen(b), 6u);
  EXPECT_EQ(b[1], 0);
  EXPECT_EQ(b[3], 0);
  SysFreeString(b);

  b = SysAllocString(u"xyz");
  EXPECT_EQ(bstr_text(b), u"xyz");
  SysFreeString(b);
  b = SysAllocStringLen(nullptr, 2);
  EXPECT_EQ(bstr_text(b), std::u16string(2, u'\0'));
  SysFreeString(b);

  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  SysFreeString(nullptr);
}

TEST(SafeArray, OneDimensionOfBytes) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 1, 3);
  ASSERT_NE(array, nullptr);
  LONG lower = 0;
  LONG upper = 0;
  EXPECT_EQ(SafeArrayGetLBound(array, 1, &lower), S_OK);
  EXPECT_EQ(SafeArrayGetUBound(array, 1, &upper), S_OK);
  EXPECT_EQ(lower, 1);
  EXPECT_EQ(upper, 3);
  EXPECT_EQ(SafeArrayGetUBound(array, 2, &upper), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayGetDim(array), 1u);

  void* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(array, &data), S_OK);
  std::memcpy(data, "abc", 3);
  // Destroying data someone is reading would leave them a dangling pointer.
  EXPECT_EQ(SafeArrayDestroy(array), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(SafeArrayUnaccessData(array), S_OK);
  EXPECT_EQ(SafeArrayUnaccessData(array), E_UNEXPECTED);

  VARIANT v = make_vt(VT_ARRAY | VT_UI1);
  v.parray = array;
  VARIANT copy;
  VariantInit(&copy);
  ASSERT_EQ(VariantCopy(&copy, &v), S_OK);
  ASSERT_NE(copy.parray, array);
  EXPECT_EQ(std::memcmp(copy.parray->pvData, "abc", 3), 0);
  EXPECT_EQ(copy.parray->rgsabound[0].lLbound, 1);
  EXPECT_EQ(VariantClear(&copy), S_OK);
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(v.vt, VT_EMPTY);

  EXPECT_EQ(SafeArrayCreateVector(VT_BSTR, 0, 1), nullptr);
  SAFEARRAYBOUND two[2] = {{1, 0}, {1, 0}};
  EXPECT_EQ(SafeArrayCreate(VT_UI1, 2, two), nullptr);
  SAFEARRAY* empty = SafeArrayCreate(VT_UI1, 1, two);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(SafeArrayDestroy(empty), S_OK);
}

TEST(VariantChangeType, ToText) {
  struct Row {
    const char* name;
    VARIANT source;
    HRESULT want_hr = S_OK;
    std::u16string want = u"";
  };
  const Row rows[] = {
      {.name = "empty", .source = make_vt(VT_EMPTY), .want = u""},
      {.name = "true", .source = make_bool(true), .want = u"-1"},
      {.name = "false", .source = make_bool(false), .want = u"0"},
      {.name = "int", .source = make_i4(-42), .want = u"-42"},
      // doubles as the system writes them: 15 significant digits, E+/E- exponents
      {.name = "half", .source = make_r8(2.5), .want = u"2.5"},
      {.name = "whole double", .source = make_r8(3), .want = u"3"},
      {.name = "negative zero", .source = make_r8(-0.0), .want = u"0"},
      {.name = "1e21", .source = make_r8(1e21), .want = u"1E+21"},
      {.name = "1e15", .source = make_r8(1e15), .want = u"1E+15"},
      {.name = "15 digits", .source = make_r8(123456789012345), .want = u"123456789012345"},
      {.name = "16 digits round", .source = make_r8(1234567890123456), .want = u"1.23456789012346E+15"},
      {.name = "small", .source = make_r8(0.0001), .want = u"0.0001"},
      {.name = "smaller", .source = make_r8(0.00001), .want = u"1E-05"},
      {.name = "one third", .source = make_r8(1.0 / 3), .want = u"0.333333333333333"},
      {.name = "tenth sum", .source = make_r8(0.1 + 0.2), .want = u"0.3"},
      {.name = "string", .source = make_bstr(u"x\u4E2D"), .want = u"x\u4E2D"},
      {.name = "null", .source = make_vt(VT_NULL), .want_hr = DISP_E_TYPEMISMATCH},
      {.name = "array", .source = make_vt(VT_ARRAY | VT_UI1), .want_hr = DISP_E_TYPEMISMATCH},
      {.name = "unknown type", .source = make_vt(99), .want_hr = DISP_E_BADVARTYPE},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    VARIANT out = make_i4(7);
    EXPECT_EQ(VariantChangeType(&out, &row.source, 0, VT_BSTR), row.want_hr);
    if (row.want_hr == S_OK) {
      ASSERT_EQ(out.vt, VT_BSTR);
      EXPECT_EQ(bstr_text(out.bstrVal), row.want);
    } else {
      EXPECT_EQ(out.vt, VT_I4);  // left as it was
    }
    VariantClear(&out);
    VARIANT source = row.source;
    if (source.vt != 99) VariantClear(&source);
  }
}

TEST(VariantChangeType, ToNumbers) {
  struct Row {
    const char* name;
    VARIANT source;
    VARTYPE vt;
    HRESULT want_hr = S_OK;
    double want = 0;
  };
  const Row rows[] = {
      {.name = "empty is 0", .source = make_vt(VT_EMPTY), .vt = VT_R8, .want = 0},
      {.name = "true is -1", .source = make_bool(true), .vt = VT_I4, .want = -1},
      {.name = "text double", .source = make_bstr(u" 2.5e1 "), .vt = VT_R8, .want = 25},
      {.name = "text plus", .source = make_bstr(u"+7"), .vt = VT_I4, .want = 7},
      {.name = "text rounds half even", .source = make_bstr(u"2.5"), .vt = VT_I4, .want = 2},
      {.name = "double rounds half even", .source = make_r8(3.5), .vt = VT_I4, .want = 4},
      {.name = "double to int overflow", .source = make_r8(3e9), .vt = VT_I4, .want_hr = DISP_E_OVERFLOW},
      {.name = "text not a number", .source = make_bstr(u"12a"), .vt = VT_R8, .want_hr = DISP_E_TYPEMISMATCH},
      {.name = "empty text", .source = make_bstr(u""), .vt = VT_I4, .want_hr = DISP_E_TYPEMISMATCH},
      {.name = "text infinity", .source = make_bstr(u"inf"), .vt = VT_R8, .want_hr = DISP_E_TYPEMISMATCH},
      {.name = "double sign", .source = make_bstr(u"+-1"), .vt = VT_R8, .want_hr = DISP_E_TYPEMISMATCH},
      {.name = "text true", .source = make_bstr(u"tRUE"), .vt = VT_BOOL, .want = -1},
      {.name = "text false", .source = make_bstr(u"False"), .vt = VT_BOOL, .want = 0},
      {.name = "text number to bool", .source = make_bstr(u"0.5"), .vt = VT_BOOL, .want = -1},
      {.name = "text word to bool", .source = make_bstr(u"yes"), .vt = VT_BOOL, .want_hr = DISP_E_TYPEMISMATCH},
      {.name = "int to bool", .source = make_i4(2), .vt = VT_BOOL, .want = -1},
      {.name = "null to int", .source = make_vt(VT_NULL), .vt = VT_I4, .want_hr = DISP_E_TYPEMISMATCH},
      {.name = "byte range", .source = make_i4(256), .vt = VT_UI1, .want_hr = DISP_E_OVERFLOW},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    VARIANT out;
    VariantInit(&out);
    EXPECT_EQ(VariantChangeType(&out, &row.source, 0, row.vt), row.want_hr);
    if (row.want_hr == S_OK) {
      ASSERT_EQ(out.vt, row.vt);
      const double got = row.vt == VT_R8 ? out.dblVal : row.vt == VT_I4 ? out.lVal : out.boolVal;
      EXPECT_EQ(got, row.want);
    } else {
      EXPECT_EQ(out.vt, VT_EMPTY);
    }
    VARIANT source = row.source;
    VariantClear(&source);
  }
}

class Counted final : public DispatchObject {
  std::span<const DispatchMember> members() const override { return {}; }
  HRESULT invoke_member(DISPID, WORD, const DispatchArgs&, VARIANT*) override { return E_FAIL; }
};

TEST(VariantChangeType, ObjectsAndInPlace) {
  Counted* object = new_dispatch_object<Counted>();
  VARIANT unknown = make_vt(VT_UNKNOWN);
  unknown.punkVal = object;

  VARIANT dispatch;
  VariantInit(&dispatch);
  ASSERT_EQ(VariantChangeType(&dispatch, &unknown, 0, VT_DISPATCH), S_OK);
  EXPECT_EQ(dispatch.vt, VT_DISPATCH);
  EXPECT_EQ(dispatch.pdispVal, static_cast<IDispatch*>(object));
  EXPECT_EQ(VariantChangeType(&dispatch, &dispatch, 0, VT_BSTR), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(VariantClear(&dispatch), S_OK);

  VARIANT copy;
  VariantInit(&copy);
  ASSERT_EQ(VariantCopy(&copy, &unknown), S_OK);
  EXPECT_EQ(VariantClear(&copy), S_OK);
  // Each copy and conversion took a reference and gave it back.
  EXPECT_EQ(object->Release(), 0u);

  // Converting a string in place frees the old string once (the sanitizer build would see a
  // double free or a leak).
  VARIANT text = make_bstr(u"12");
  ASSERT_EQ(VariantChangeType(&text, &text, 0, VT_I4), S_OK);
  EXPECT_EQ(text.vt, VT_I4);
  EXPECT_EQ(text.lVal, 12);

  VARIANT empty = make_vt(VT_EMPTY);
  EXPECT_EQ(VariantChangeType(&copy, &empty, 0, VT_DISPATCH), DISP_E_TYPEMISMATCH);
}

}  // namespace
