#include "platform/ado_stream/ado_stream.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/com/dispatch_object.h"
#include "platform/com/oleauto.h"

namespace {

// Late-bound calls as an automation client makes them, straight on IDispatch.
class StreamClient {
 public:
  StreamClient() {
    (void)CoInitialize(nullptr);
    CLSID clsid{};
    if (FAILED(CLSIDFromProgID(u"Adodb.Stream", &clsid))) return;
    void* object = nullptr;
    if (SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IDispatch, &object))) {
      stream_ = static_cast<IDispatch*>(object);
    }
  }
  ~StreamClient() {
    if (stream_ != nullptr) stream_->Release();
    CoUninitialize();
  }
  StreamClient(const StreamClient&) = delete;
  StreamClient& operator=(const StreamClient&) = delete;

  [[nodiscard]] bool is_created() const { return stream_ != nullptr; }

  HRESULT put(const char16_t* name, VARIANT value) {
    DISPID put_id = DISPID_PROPERTYPUT;
    DISPPARAMS params{&value, &put_id, 1, 1};
    const HRESULT hr = invoke(name, DISPATCH_PROPERTYPUT, params, nullptr);
    VariantClear(&value);
    return hr;
  }
  HRESULT put_long(const char16_t* name, LONG value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return put(name, v);
  }
  HRESULT put_string(const char16_t* name, const std::u16string& value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
    return put(name, v);
  }
  // A method without arguments; a string result lands in *text.
  HRESULT call(const char16_t* name, std::u16string* text = nullptr) {
    DISPPARAMS params{nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    const HRESULT hr = invoke(name, DISPATCH_METHOD, params, &result);
    if (text != nullptr && result.vt == VT_BSTR) {
      text->assign(result.bstrVal, SysStringLen(result.bstrVal));
    }
    VariantClear(&result);
    return hr;
  }
  HRESULT write(const std::string& bytes) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_ARRAY | VT_UI1;
    v.parray = SafeArrayCreateVector(VT_UI1, 1, static_cast<ULONG>(bytes.size()));
    void* data = nullptr;
    if (SUCCEEDED(SafeArrayAccessData(v.parray, &data))) {
      std::copy(bytes.begin(), bytes.end(), static_cast<char*>(data));
      (void)SafeArrayUnaccessData(v.parray);
    }
    return write_variant(v);
  }
  HRESULT write_variant(VARIANT value) {
    DISPPARAMS params{&value, nullptr, 1, 0};
    const HRESULT hr = invoke(u"Write", DISPATCH_METHOD, params, nullptr);
    VariantClear(&value);
    return hr;
  }
  LONG get_long(const char16_t* name) {
    DISPPARAMS params{nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    (void)invoke(name, DISPATCH_PROPERTYGET, params, &result);
    const LONG value = result.vt == VT_I4 ? result.lVal : -999;
    VariantClear(&result);
    return value;
  }

 private:
  HRESULT invoke(const char16_t* name, WORD flags, DISPPARAMS& params, VARIANT* result) {
    if (stream_ == nullptr) return E_POINTER;
    DISPID dispid = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    const HRESULT hr = stream_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &dispid);
    if (FAILED(hr)) return hr;
    EXCEPINFO info{};
    return stream_->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, &info,
                           nullptr);
  }

  IDispatch* stream_ = nullptr;
};

// The conversion web_request runs: binary write, back to the start, text read.
HRESULT convert(StreamClient& stream, const std::string& bytes, const std::u16string& charset,
                std::u16string* text) {
  (void)stream.put_long(u"Type", 1);
  (void)stream.put_long(u"Mode", 3);
  (void)stream.call(u"Open");
  (void)stream.write(bytes);
  (void)stream.put_long(u"Position", 0);
  (void)stream.put_long(u"Type", 2);
  (void)stream.put_string(u"Charset", charset);
  const HRESULT hr = stream.call(u"ReadText", text);
  (void)stream.call(u"Close");
  return hr;
}

TEST(AdodbStream, ConvertsFromTheNamedCharset) {
  struct Row {
    const char* name;
    std::u16string charset;
    std::string bytes;
    bool want_ok;
    std::u16string want;
  };
  const Row rows[] = {
      {.name = "utf-8", .charset = u"utf-8", .bytes = "<p>\xE4\xB8\xAD</p>", .want_ok = true,
       .want = u"<p>\u4E2D</p>"},  // UTF-8 "middle"
      {.name = "UTF-8 with mark", .charset = u"UTF-8", .bytes = "\xEF\xBB\xBFhi", .want_ok = true,
       .want = u"hi"},
      {.name = "big5", .charset = u"big5", .bytes = "\xA4\xA4", .want_ok = true, .want = u"\u4E2D"},
      {.name = "GBK", .charset = u"GBK", .bytes = "\x80\xD6\xD0", .want_ok = true,
       .want = u"\u20AC\u4E2D"},  // euro, GBK "middle"
      {.name = "GB2312", .charset = u"GB2312", .bytes = "\xD6\xD0", .want_ok = true,
       .want = u"\u4E2D"},
      {.name = "default charset is UTF-16LE", .charset = u"Unicode",
       .bytes = std::string("a\0b\0", 4), .want_ok = true, .want = u"ab"},
      {.name = "invalid bytes replaced", .charset = u"utf-8", .bytes = "a\xC3(b", .want_ok = true,
       .want = u"a\uFFFD(b"},
      {.name = "NUL bytes kept", .charset = u"utf-8", .bytes = std::string("a\0b", 3),
       .want_ok = true, .want = std::u16string(u"a\0b", 3)},
      {.name = "empty body", .charset = u"utf-8", .bytes = "", .want_ok = true, .want = u""},
      {.name = "unknown charset fails the read", .charset = u"x-unknown", .bytes = "abc",
       .want_ok = false, .want = u""},
      {.name = "200-character charset fails the read", .charset = std::u16string(200, u'a'),
       .bytes = "abc", .want_ok = false, .want = u""},
      {.name = "non-ASCII charset name fails the read", .charset = u"utf\u00AD8", .bytes = "abc",
       .want_ok = false, .want = u""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    StreamClient stream;
    ASSERT_TRUE(stream.is_created());
    std::u16string text;
    const HRESULT hr = convert(stream, row.bytes, row.charset, &text);
    EXPECT_EQ(SUCCEEDED(hr), row.want_ok);
    EXPECT_EQ(text, row.want);
  }
}

TEST(AdodbStream, StateRules) {
  struct Row {
    const char* name;
    void (*steps)(StreamClient&);  // brings the stream to the state under test
    HRESULT (*probe)(StreamClient&);
    bool want_ok;
  };
  const Row rows[] = {
      {.name = "write before open",
       .steps = [](StreamClient& s) { (void)s.put_long(u"Type", 1); },
       .probe = [](StreamClient& s) { return s.write("a"); }, .want_ok = false},
      {.name = "write in text mode",
       .steps = [](StreamClient& s) { (void)s.call(u"Open"); },
       .probe = [](StreamClient& s) { return s.write("a"); }, .want_ok = false},
      {.name = "write of a string is refused",
       .steps = [](StreamClient& s) { (void)s.put_long(u"Type", 1), (void)s.call(u"Open"); },
       .probe = [](StreamClient& s) {
         VARIANT v;
         VariantInit(&v);
         v.vt = VT_BSTR;
         v.bstrVal = SysAllocString(u"abc");
         return s.write_variant(v);
       },
       .want_ok = false},
      {.name = "read in binary mode",
       .steps = [](StreamClient& s) { (void)s.put_long(u"Type", 1), (void)s.call(u"Open"); },
       .probe = [](StreamClient& s) { return s.call(u"ReadText"); }, .want_ok = false},
      {.name = "read before open", .steps = [](StreamClient&) {},
       .probe = [](StreamClient& s) { return s.call(u"ReadText"); }, .want_ok = false},
      {.name = "type change away from position 0",
       .steps = [](StreamClient& s) {
         (void)s.put_long(u"Type", 1), (void)s.call(u"Open"), (void)s.write("ab");
       },
       .probe = [](StreamClient& s) { return s.put_long(u"Type", 2); }, .want_ok = false},
      {.name = "charset change away from position 0",
       .steps = [](StreamClient& s) {
         (void)s.put_long(u"Type", 1), (void)s.call(u"Open"), (void)s.write("ab");
       },
       .probe = [](StreamClient& s) { return s.put_string(u"Charset", u"utf-8"); },
       .want_ok = false},
      {.name = "position past the end",
       .steps = [](StreamClient& s) {
         (void)s.put_long(u"Type", 1), (void)s.call(u"Open"), (void)s.write("ab");
       },
       .probe = [](StreamClient& s) { return s.put_long(u"Position", 3); }, .want_ok = false},
      {.name = "position at the end",
       .steps = [](StreamClient& s) {
         (void)s.put_long(u"Type", 1), (void)s.call(u"Open"), (void)s.write("ab");
       },
       .probe = [](StreamClient& s) { return s.put_long(u"Position", 2); }, .want_ok = true},
      {.name = "mode while open", .steps = [](StreamClient& s) { (void)s.call(u"Open"); },
       .probe = [](StreamClient& s) { return s.put_long(u"Mode", 3); }, .want_ok = false},
      {.name = "open twice", .steps = [](StreamClient& s) { (void)s.call(u"Open"); },
       .probe = [](StreamClient& s) { return s.call(u"Open"); }, .want_ok = false},
      {.name = "close when closed", .steps = [](StreamClient&) {},
       .probe = [](StreamClient& s) { return s.call(u"Close"); }, .want_ok = false},
      {.name = "type other than 1 or 2", .steps = [](StreamClient&) {},
       .probe = [](StreamClient& s) { return s.put_long(u"Type", 3); }, .want_ok = false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    StreamClient stream;
    ASSERT_TRUE(stream.is_created());
    row.steps(stream);
    EXPECT_EQ(SUCCEEDED(row.probe(stream)), row.want_ok);
  }
}

TEST(AdodbStream, WritesAtPositionAndReadsFromIt) {
  StreamClient stream;
  ASSERT_TRUE(stream.is_created());
  EXPECT_EQ(stream.get_long(u"Type"), 2);
  ASSERT_EQ(stream.put_long(u"Type", 1), S_OK);
  ASSERT_EQ(stream.call(u"Open"), S_OK);
  ASSERT_EQ(stream.write("abcd"), S_OK);
  EXPECT_EQ(stream.get_long(u"Position"), 4);
  ASSERT_EQ(stream.put_long(u"Position", 1), S_OK);
  ASSERT_EQ(stream.write("XY"), S_OK);  // overwrites b and c
  ASSERT_EQ(stream.write("Z"), S_OK);   // overwrites d
  ASSERT_EQ(stream.write("!"), S_OK);   // grows the stream
  ASSERT_EQ(stream.put_long(u"Position", 0), S_OK);
  ASSERT_EQ(stream.put_long(u"Type", 2), S_OK);
  ASSERT_EQ(stream.put_string(u"Charset", u"us-ascii"), S_OK);
  ASSERT_EQ(stream.put_long(u"Position", 2), S_OK);
  std::u16string text;
  ASSERT_EQ(stream.call(u"ReadText", &text), S_OK);
  EXPECT_EQ(text, u"YZ!");
  EXPECT_EQ(stream.get_long(u"Position"), 5);
}

TEST(AdodbStream, BalancedReferencesAndInitialisation) {
  const long objects_before = dispatch_object_count();
  const ULONG com_before = com_initialization_count();
  {
    StreamClient stream;
    ASSERT_TRUE(stream.is_created());
    std::u16string text;
    EXPECT_EQ(convert(stream, "x", u"utf-8", &text), S_OK);
  }
  EXPECT_EQ(dispatch_object_count(), objects_before);
  EXPECT_EQ(com_initialization_count(), com_before);
}

}  // namespace
