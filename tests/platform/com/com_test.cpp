#include "platform/com/com.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>
#include <vector>

#include "platform/com/dispatch_object.h"

namespace {

const CLSID test_clsid = {0x12345678, 0x9ABC, 0xDEF0, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};

class Plain final : public DispatchObject {
  std::span<const DispatchMember> members() const override { return {}; }
  HRESULT invoke_member(DISPID, WORD, const DispatchArgs&, VARIANT*) override { return E_FAIL; }
};

DWORD last_context = 0;
HRESULT factory_result = S_OK;

HRESULT make_plain(DWORD context, IUnknown** object) {
  last_context = context;
  if (FAILED(factory_result)) return factory_result;
  *object = new_dispatch_object<Plain>();
  return S_OK;
}

struct Registered {
  Registered() { EXPECT_TRUE(register_com_class(u"Test.Plain", test_clsid, make_plain)); }
  ~Registered() { EXPECT_TRUE(unregister_com_class(test_clsid)); }
};

TEST(ComInitialization, CountsPerThread) {
  const ULONG before = com_initialization_count();
  EXPECT_EQ(CoInitialize(nullptr), before == 0 ? S_OK : S_FALSE);
  EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
  EXPECT_EQ(OleInitialize(nullptr), S_FALSE);
  EXPECT_EQ(com_initialization_count(), before + 3);
  EXPECT_EQ(ole_initialization_count(), 1u);
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
  EXPECT_EQ(com_initialization_count(), before + 3);

  std::thread other([] {
    EXPECT_EQ(com_initialization_count(), 0u);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(com_initialization_count(), 1u);
    CoUninitialize();
    CoUninitialize();  // one too many stays at 0
    EXPECT_EQ(com_initialization_count(), 0u);
  });
  other.join();

  EXPECT_EQ(com_initialization_count(), before + 3);
  OleUninitialize();
  OleUninitialize();  // none outstanding: no effect on the COM count
  EXPECT_EQ(ole_initialization_count(), 0u);
  CoUninitialize();
  CoUninitialize();
  EXPECT_EQ(com_initialization_count(), before);
}

TEST(ComClasses, ClsidFromString) {
  struct Row {
    const char* name;
    const char16_t* text;
    HRESULT want;
  };
  const Row rows[] = {
      {.name = "upper", .text = u"{12345678-9ABC-DEF0-0123-456789ABCDEF}", .want = S_OK},
      {.name = "lower", .text = u"{12345678-9abc-def0-0123-456789abcdef}", .want = S_OK},
      {.name = "no braces", .text = u"12345678-9ABC-DEF0-0123-456789ABCDEF", .want = CO_E_CLASSSTRING},
      {.name = "short", .text = u"{12345678-9ABC-DEF0-0123-456789ABCDE}", .want = CO_E_CLASSSTRING},
      {.name = "not hex", .text = u"{1234567G-9ABC-DEF0-0123-456789ABCDEF}", .want = CO_E_CLASSSTRING},
      {.name = "dash moved", .text = u"{123456789-ABC-DEF0-0123-456789ABCDEF}", .want = CO_E_CLASSSTRING},
      {.name = "empty", .text = u"", .want = CO_E_CLASSSTRING},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromString(row.text, &clsid), row.want);
    if (row.want == S_OK) {
      EXPECT_TRUE(clsid == test_clsid);
    }
  }
  CLSID clsid{};
  EXPECT_EQ(CLSIDFromString(nullptr, &clsid), E_INVALIDARG);
}

TEST(ComClasses, ProgIdsIgnoreCase) {
  const Registered registered;
  struct Row {
    const char* name;
    const char16_t* progid;
    HRESULT want;
  };
  const Row rows[] = {
      {.name = "as registered", .progid = u"Test.Plain", .want = S_OK},
      {.name = "other case", .progid = u"tEST.pLAIN", .want = S_OK},
      {.name = "prefix", .progid = u"Test.Plai", .want = CO_E_CLASSSTRING},
      {.name = "longer", .progid = u"Test.Plain2", .want = CO_E_CLASSSTRING},
      {.name = "empty", .progid = u"", .want = CO_E_CLASSSTRING},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(row.progid, &clsid), row.want);
    if (row.want == S_OK) {
      EXPECT_TRUE(clsid == test_clsid);
    }
  }
  EXPECT_FALSE(register_com_class(u"TEST.PLAIN", CLSID{}, make_plain));
  EXPECT_FALSE(register_com_class(u"Other", test_clsid, make_plain));
}

TEST(ComClasses, CoCreateInstance) {
  const Registered registered;
  const CLSID unknown_clsid = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
  const IID some_iid = {9, 9, 9, {9, 9, 9, 9, 9, 9, 9, 9}};
  struct Row {
    const char* name;
    bool initialise;
    CLSID clsid;
    DWORD context;
    IID iid;
    HRESULT factory = S_OK;
    HRESULT want;
  };
  const Row rows[] = {
      {.name = "all contexts", .initialise = true, .clsid = test_clsid, .context = CLSCTX_ALL, .iid = IID_IUnknown, .want = S_OK},
      {.name = "dispatch", .initialise = true, .clsid = test_clsid, .context = CLSCTX_INPROC_SERVER, .iid = IID_IDispatch, .want = S_OK},
      {.name = "not initialised", .initialise = false, .clsid = test_clsid, .context = CLSCTX_ALL, .iid = IID_IUnknown, .want = CO_E_NOTINITIALIZED},
      {.name = "unknown class", .initialise = true, .clsid = unknown_clsid, .context = CLSCTX_ALL, .iid = IID_IUnknown, .want = REGDB_E_CLASSNOTREG},
      {.name = "local server only", .initialise = true, .clsid = test_clsid, .context = CLSCTX_LOCAL_SERVER, .iid = IID_IUnknown, .want = REGDB_E_CLASSNOTREG},
      {.name = "unknown context bit", .initialise = true, .clsid = test_clsid, .context = CLSCTX_ALL | 0x8000000, .iid = IID_IUnknown, .want = E_INVALIDARG},
      {.name = "interface not offered", .initialise = true, .clsid = test_clsid, .context = CLSCTX_ALL, .iid = some_iid, .want = E_NOINTERFACE},
      {.name = "factory fails", .initialise = true, .clsid = test_clsid, .context = CLSCTX_ALL, .iid = IID_IUnknown, .factory = E_OUTOFMEMORY, .want = E_OUTOFMEMORY},
  };
  // A thread of its own starts uninitialised whatever this one has done.
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::thread worker([&row] {
      if (row.initialise) CoInitialize(nullptr);
      const long objects_before = dispatch_object_count();
      factory_result = row.factory;
      void* object = &factory_result;  // must be nulled on failure
      EXPECT_EQ(CoCreateInstance(row.clsid, nullptr, row.context, row.iid, &object), row.want);
      factory_result = S_OK;
      if (row.want == S_OK) {
        ASSERT_NE(object, nullptr);
        EXPECT_EQ(last_context, row.context);
        EXPECT_EQ(static_cast<IUnknown*>(object)->Release(), 0u);
      } else {
        EXPECT_EQ(object, nullptr);
      }
      EXPECT_EQ(dispatch_object_count(), objects_before);
      if (row.initialise) CoUninitialize();
    });
    worker.join();
  }
  EXPECT_EQ(OleRun(nullptr), E_INVALIDARG);
}

}  // namespace
