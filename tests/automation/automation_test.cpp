#include "automation/automation.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "tests/support/fake_dispatch.h"

namespace {

ObjectRef ref_to(FakeDispatch& fake) {
  fake.AddRef();
  return ObjectRef::attach(static_cast<IDispatch*>(&fake));
}

TEST(ObjectRef, CountsReferences) {
  FakeDispatch fake;
  {
    ObjectRef first = ref_to(fake);
    EXPECT_EQ(fake.references(), 2u);
    ObjectRef copy = first;
    EXPECT_EQ(fake.references(), 3u);
    ObjectRef moved = std::move(copy);
    EXPECT_EQ(fake.references(), 3u);
    EXPECT_TRUE(copy.empty());
    copy = moved;
    EXPECT_EQ(fake.references(), 4u);
    copy = copy;  // self-assignment keeps the one reference
    EXPECT_EQ(fake.references(), 4u);
    first.clear();
    first.clear();  // clearing an empty one does nothing
    EXPECT_TRUE(first.empty());
    EXPECT_EQ(fake.references(), 3u);
  }
  EXPECT_EQ(fake.references(), 1u);
}

TEST(Variant, SettersClearFirst) {
  FakeDispatch fake;
  Variant v;
  EXPECT_EQ(v.type(), VT_EMPTY);
  VARIANT* slot = v.receive();
  slot->vt = VT_DISPATCH;
  slot->pdispVal = &fake;
  fake.AddRef();
  v.set_int32(-5);  // releases the object it held
  EXPECT_EQ(fake.references(), 1u);
  EXPECT_EQ(v.type(), VT_I4);
  EXPECT_EQ(v.get().lVal, -5);

  v.set_text("a\xD6\xD0" "b");  // a, the GBK character for "middle", b
  ASSERT_EQ(v.type(), VT_BSTR);
  EXPECT_EQ(std::u16string(v.get().bstrVal, SysStringLen(v.get().bstrVal)), u"a\u4E2Db");
  v.set_text(std::string_view("up\0to", 5));
  EXPECT_EQ(SysStringLen(v.get().bstrVal), 2u);

  v.set_bool(true);
  EXPECT_EQ(v.type(), VT_BOOL);
  EXPECT_EQ(v.get().boolVal, VARIANT_TRUE);
  v.set_double(2.5);
  EXPECT_EQ(v.get().dblVal, 2.5);

  v.set_bytes(Bytes{0, 0xFF, 7});
  ASSERT_EQ(v.type(), VT_ARRAY | VT_UI1);
  LONG lower = 0;
  LONG upper = 0;
  EXPECT_EQ(SafeArrayGetLBound(v.get().parray, 1, &lower), S_OK);
  EXPECT_EQ(SafeArrayGetUBound(v.get().parray, 1, &upper), S_OK);
  EXPECT_EQ(lower, 1);
  EXPECT_EQ(upper, 3);
  const auto* data = static_cast<const BYTE*>(v.get().parray->pvData);
  EXPECT_EQ(data[1], 0xFF);

  const Variant copy = v;  // deep: both free their own array
  EXPECT_NE(copy.get().parray, v.get().parray);
  v.set_bytes(Bytes{});
  EXPECT_EQ(v.get().parray->rgsabound[0].cElements, 0u);
}

TEST(VariantToText, Conversions) {
  struct Row {
    const char* name;
    std::function<void(Variant&)> set;
    Text want;
  };
  const Row rows[] = {
      {.name = "empty", .set = [](Variant&) {}, .want = ""},
      {.name = "true", .set = [](Variant& v) { v.set_bool(true); }, .want = "-1"},
      {.name = "false", .set = [](Variant& v) { v.set_bool(false); }, .want = "0"},
      {.name = "int", .set = [](Variant& v) { v.set_int32(12); }, .want = "12"},
      {.name = "double", .set = [](Variant& v) { v.set_double(1e21); }, .want = "1E+21"},
      {.name = "GBK round trip", .set = [](Variant& v) { v.set_text("\xD6\xD0" "x"); }, .want = "\xD6\xD0" "x"},  // "middle", x
      {.name = "invalid GBK", .set = [](Variant& v) { v.set_text("a\xFF"); }, .want = "a?"},
      {.name = "array", .set = [](Variant& v) { v.set_bytes(Bytes{1}); }, .want = ""},
      {.name = "NUL unit ends the text", .set = [](Variant& v) {
         const char16_t units[] = {u'o', u'k', 0, u'x'};
         VARIANT* slot = v.receive();
         slot->vt = VT_BSTR;
         slot->bstrVal = SysAllocStringLen(units, 4);
       }, .want = "ok"},
      {.name = "not in code page", .set = [](Variant& v) {
         VARIANT* slot = v.receive();
         slot->vt = VT_BSTR;
         slot->bstrVal = SysAllocString(u"\u00C5!");  // A with ring
       }, .want = "?!"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Variant v;
    row.set(v);
    EXPECT_EQ(variant_to_text(v), row.want);
  }
}

// The wanted kinds, each converted from what the member answers.
TEST(ReadProperty, ConvertsToTheWantedKind) {
  FakeDispatch inner;  // outlives fake, whose result refers to it
  FakeDispatch fake;
  fake.set_result_text(fake.add(u"Text"), u"2.5");
  fake.set_result_bool(fake.add(u"Flag"), true);
  fake.set_result_i4(fake.add(u"Count"), 3);
  fake.set_result_object(fake.add(u"Child"), static_cast<IDispatch*>(&inner));
  fake.set_result_text(fake.add(u"Word"), u"yes");
  const ObjectRef ref = ref_to(fake);

  EXPECT_EQ(read_property<double>(ref, "Text"), 2.5);
  EXPECT_EQ(read_property<Text>(ref, "text"), "2.5");  // names bind without case
  EXPECT_EQ(read_property<Text>(ref, "Flag"), "-1");
  EXPECT_EQ(read_property<double>(ref, "Flag"), -1);
  EXPECT_TRUE(read_property<bool>(ref, "Count"));
  EXPECT_EQ(read_property<Text>(ref, "Count"), "3");
  EXPECT_EQ(read_property<Variant>(ref, "Count").type(), VT_I4);
  // Text that reads as no number or boolean gives the empty value.
  EXPECT_EQ(read_property<double>(ref, "Word"), 0);
  EXPECT_FALSE(read_property<bool>(ref, "Word"));
  EXPECT_TRUE(read_property<ObjectRef>(ref, "Word").empty());
  {
    const ObjectRef child = read_property<ObjectRef>(ref, "Child");
    EXPECT_EQ(child.get(), static_cast<IUnknown*>(static_cast<IDispatch*>(&inner)));
    EXPECT_EQ(inner.references(), 3u);  // the fake's result and child
  }
  EXPECT_EQ(inner.references(), 2u);
  for (const FakeDispatch::Invocation& seen : fake.invocations) {
    EXPECT_EQ(seen.flags, DISPATCH_PROPERTYGET);
  }
}

TEST(AutomationCalls, FailuresGiveEmptyValues) {
  FakeDispatch fake;
  FakeDispatch::Member& member = fake.add(u"Value", 1);
  fake.set_result_text(member, u"5");
  fake.add(u"Broken").fail = DISP_E_EXCEPTION;
  struct Row {
    const char* name;
    bool empty_ref = false;
    bool offer_dispatch = true;
    const char* member;
    int arg_count = 0;
  };
  const Row rows[] = {
      {.name = "empty reference", .empty_ref = true, .member = "Value"},
      {.name = "no IDispatch", .offer_dispatch = false, .member = "Value"},
      {.name = "unknown name", .member = "Singleline"},
      {.name = "more arguments than declared", .member = "Value", .arg_count = 2},
      {.name = "error raised inside", .member = "Broken"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    fake.offer_dispatch = row.offer_dispatch;
    ObjectRef ref;
    if (!row.empty_ref) ref = ref_to(fake);
    const Args two = {1, 2};
    const Args none = {};
    const Args& args = row.arg_count == 2 ? two : none;
    EXPECT_EQ(read_property<Text>(ref, row.member, args), "");
    EXPECT_EQ(read_property<double>(ref, row.member, args), 0);
    EXPECT_FALSE(read_property<bool>(ref, row.member, args));
    EXPECT_TRUE(read_property<ObjectRef>(ref, row.member, args).empty());
    EXPECT_EQ(read_property<Variant>(ref, row.member, args).type(), VT_EMPTY);
    EXPECT_EQ(call_method<Text>(ref, row.member, args), "");
    if (row.arg_count == 0) {
      EXPECT_FALSE(write_property(ref, row.member, 1));
    }
    ref.clear();
    EXPECT_EQ(fake.references(), 1u);
  }
  fake.offer_dispatch = true;
  EXPECT_EQ(read_property<Text>(ref_to(fake), "Value", {1}), "5");
}

TEST(AutomationCalls, PassArgumentsAsVariants) {
  FakeDispatch fake;
  FakeDispatch other;
  fake.add(u"Execute", 8);
  const ObjectRef ref = ref_to(fake);
  const ObjectRef other_ref = ref_to(other);
  Variant subject;
  subject.set_text("page");
  const Text text = "\xD6\xD0";  // the GBK character for "middle"

  (void)call_method<Variant>(ref, "Execute",
                             {true, 7, 0.5, text, "lit", other_ref, subject, std::string_view("a\0b", 3)});
  ASSERT_EQ(fake.invocations.size(), 1u);
  const FakeDispatch::Invocation& seen = fake.invocations[0];
  EXPECT_EQ(fake.names_looked_up, std::vector<std::u16string>{u"Execute"});
  EXPECT_EQ(seen.flags, DISPATCH_METHOD);
  EXPECT_TRUE(seen.named.empty());
  const std::vector<VARTYPE> want_types = {VT_BOOL, VT_I4, VT_R8, VT_BSTR, VT_BSTR, VT_DISPATCH, VT_BSTR, VT_BSTR};
  EXPECT_EQ(seen.arg_types, want_types);
  const std::vector<double> want_numbers = {-1, 7, 0.5, 0, 0, 0, 0, 0};
  EXPECT_EQ(seen.arg_numbers, want_numbers);
  const std::vector<std::u16string> want_strings = {u"", u"", u"", u"\u4E2D", u"lit", u"", u"page", u"a"};
  EXPECT_EQ(seen.arg_strings, want_strings);
  // The call gave back the reference it took for the object argument.
  EXPECT_EQ(other.references(), 2u);
  EXPECT_EQ(subject.type(), VT_BSTR);  // still the caller's
}

TEST(WriteProperty, PassesTheValueAsPropertyPut) {
  FakeDispatch fake;
  fake.add(u"Pattern");
  fake.add(u"ReadOnly").fail = DISP_E_MEMBERNOTFOUND;
  const ObjectRef ref = ref_to(fake);

  EXPECT_TRUE(write_property(ref, "pattern", "a(b)"));
  ASSERT_EQ(fake.invocations.size(), 1u);
  EXPECT_EQ(fake.invocations[0].flags, DISPATCH_PROPERTYPUT);
  EXPECT_EQ(fake.invocations[0].named, std::vector<DISPID>{DISPID_PROPERTYPUT});
  EXPECT_EQ(fake.invocations[0].arg_types, std::vector<VARTYPE>{});
  EXPECT_EQ(read_property<Text>(ref, "Pattern"), "a(b)");
  EXPECT_FALSE(write_property(ref, "ReadOnly", false));
}

// A class that refuses the full context the way an older system refuses unknown bits.
const CLSID picky_clsid = {0xABCDEF01, 0x2345, 0x6789, {0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45, 0x67, 0x89}};
std::vector<DWORD> contexts_asked;
bool refuse_all_contexts = false;
FakeDispatch* made_object = nullptr;

HRESULT make_picky(DWORD context, IUnknown** object) {
  contexts_asked.push_back(context);
  if ((context & CLSCTX_REMOTE_SERVER) != 0 || refuse_all_contexts) return E_INVALIDARG;
  made_object->AddRef();
  *object = static_cast<IDispatch*>(made_object);
  return S_OK;
}

TEST(CreateObject, ByProgIdOrClassIdentifier) {
  ASSERT_TRUE(register_com_class(u"Test.Picky", picky_clsid, make_picky));
  CoInitialize(nullptr);
  FakeDispatch made;
  FakeDispatch old;
  made_object = &made;
  struct Row {
    const char* name;
    const char* progid;
    bool refuse = false;
    bool want;
    std::vector<DWORD> want_contexts;
  };
  const DWORD narrower = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER;
  const Row rows[] = {
      {.name = "ProgID, retried on E_INVALIDARG", .progid = "Test.Picky", .want = true, .want_contexts = {CLSCTX_ALL, narrower}},
      {.name = "ProgID in other case", .progid = "TEST.picky", .want = true, .want_contexts = {CLSCTX_ALL, narrower}},
      {.name = "class identifier", .progid = "{ABCDEF01-2345-6789-ABCD-EF0123456789}", .want = true, .want_contexts = {CLSCTX_ALL, narrower}},
      {.name = "bad class identifier", .progid = "{ABCDEF01}", .want = false, .want_contexts = {}},
      {.name = "unknown ProgID", .progid = "No.Such", .want = false, .want_contexts = {}},
      {.name = "empty", .progid = "", .want = false, .want_contexts = {}},
      {.name = "refused twice", .progid = "Test.Picky", .refuse = true, .want = false, .want_contexts = {CLSCTX_ALL, narrower}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    contexts_asked.clear();
    refuse_all_contexts = row.refuse;
    ObjectRef ref = ref_to(old);
    EXPECT_EQ(create_object(ref, row.progid), row.want);
    EXPECT_EQ(contexts_asked, row.want_contexts);
    // Success replaces the old object; failure keeps it.
    EXPECT_EQ(ref.get(), row.want ? static_cast<IUnknown*>(static_cast<IDispatch*>(&made))
                                  : static_cast<IUnknown*>(static_cast<IDispatch*>(&old)));
    EXPECT_EQ(old.references(), row.want ? 1u : 2u);
    ref.clear();
    EXPECT_EQ(made.references(), 1u);
  }
  CoUninitialize();
  ObjectRef ref;
  EXPECT_FALSE(create_object(ref, "Test.Picky"));  // COM not initialised
  EXPECT_TRUE(unregister_com_class(picky_clsid));
}

}  // namespace
