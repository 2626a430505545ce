#include "platform/com/com.h"

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

const IID IID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

bool operator==(const GUID& a, const GUID& b) {
  return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
         std::memcmp(a.Data4, b.Data4, sizeof a.Data4) == 0;
}

namespace {

struct ThreadState {
  ULONG com_count = 0;
  ULONG ole_count = 0;
  DWORD model = COINIT_APARTMENTTHREADED;
};

thread_local ThreadState thread_state;

char16_t fold_ascii(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

bool same_progid(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (fold_ascii(a[i]) != fold_ascii(b[i])) return false;
  }
  return true;
}

struct ClassEntry {
  std::u16string progid;
  CLSID clsid;
  ComClassFactory factory;
};

// Classes register from static initialisers of several libraries, so the registry is made on
// first use and guarded for the threads tests start.
struct Registry {
  std::mutex lock;
  std::vector<ClassEntry> classes;
};

Registry& registry() {
  static Registry instance;
  return instance;
}

std::u16string_view until_nul(LPCOLESTR text) {
  std::size_t n = 0;
  while (text[n] != 0) ++n;
  return {text, n};
}

int hex_value(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// digit_count hex digits of text from index on.
bool read_hex(std::u16string_view text, std::size_t index, int digit_count, std::uint32_t* out) {
  std::uint32_t value = 0;
  for (int i = 0; i < digit_count; ++i) {
    const int digit = hex_value(text[index + static_cast<std::size_t>(i)]);
    if (digit < 0) return false;
    value = value << 4 | static_cast<std::uint32_t>(digit);
  }
  *out = value;
  return true;
}

}  // namespace

HRESULT CoInitializeEx(LPVOID /*pvReserved*/, DWORD dwCoInit) {
  ThreadState& state = thread_state;
  const DWORD model = dwCoInit & COINIT_APARTMENTTHREADED;
  if (state.com_count == 0) {
    state.model = model;
    state.com_count = 1;
    return S_OK;
  }
  if (state.model != model) return RPC_E_CHANGED_MODE;
  ++state.com_count;
  return S_FALSE;
}

HRESULT CoInitialize(LPVOID pvReserved) { return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED); }

void CoUninitialize() {
  if (thread_state.com_count > 0) --thread_state.com_count;
}

HRESULT OleInitialize(LPVOID pvReserved) {
  const HRESULT hr = CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED);
  if (FAILED(hr)) return hr;
  ++thread_state.ole_count;
  return hr;
}

void OleUninitialize() {
  if (thread_state.ole_count == 0) return;
  --thread_state.ole_count;
  CoUninitialize();
}

ULONG com_initialization_count() { return thread_state.com_count; }
ULONG ole_initialization_count() { return thread_state.ole_count; }

HRESULT CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid) {
  if (lpsz == nullptr || pclsid == nullptr) return E_INVALIDARG;
  const std::u16string_view text = until_nul(lpsz);
  // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
  if (text.size() != 38 || text[0] != u'{' || text[37] != u'}' || text[9] != u'-' ||
      text[14] != u'-' || text[19] != u'-' || text[24] != u'-') {
    return CO_E_CLASSSTRING;
  }
  CLSID clsid{};
  std::uint32_t part = 0;
  if (!read_hex(text, 1, 8, &clsid.Data1)) return CO_E_CLASSSTRING;
  if (!read_hex(text, 10, 4, &part)) return CO_E_CLASSSTRING;
  clsid.Data2 = static_cast<WORD>(part);
  if (!read_hex(text, 15, 4, &part)) return CO_E_CLASSSTRING;
  clsid.Data3 = static_cast<WORD>(part);
  constexpr std::size_t byte_starts[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (std::size_t i = 0; i < 8; ++i) {
    if (!read_hex(text, byte_starts[i], 2, &part)) return CO_E_CLASSSTRING;
    clsid.Data4[i] = static_cast<BYTE>(part);
  }
  *pclsid = clsid;
  return S_OK;
}

HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid) {
  if (lpszProgID == nullptr || lpclsid == nullptr) return E_INVALIDARG;
  const std::u16string_view progid = until_nul(lpszProgID);
  Registry& reg = registry();
  const std::lock_guard guard(reg.lock);
  for (const ClassEntry& entry : reg.classes) {
    if (same_progid(entry.progid, progid)) {
      *lpclsid = entry.clsid;
      return S_OK;
    }
  }
  return CO_E_CLASSSTRING;
}

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                         LPVOID* ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (thread_state.com_count == 0) return CO_E_NOTINITIALIZED;
  if (pUnkOuter != nullptr) return CLASS_E_NOAGGREGATION;
  if ((dwClsContext & ~CLSCTX_ALL) != 0) return E_INVALIDARG;
  if ((dwClsContext & CLSCTX_INPROC_SERVER) == 0) return REGDB_E_CLASSNOTREG;

  ComClassFactory factory = nullptr;
  {
    Registry& reg = registry();
    const std::lock_guard guard(reg.lock);
    for (const ClassEntry& entry : reg.classes) {
      if (entry.clsid == rclsid) factory = entry.factory;
    }
  }
  if (factory == nullptr) return REGDB_E_CLASSNOTREG;

  IUnknown* object = nullptr;
  const HRESULT made = factory(dwClsContext, &object);
  if (FAILED(made)) return made;
  if (object == nullptr) return E_UNEXPECTED;
  const HRESULT asked = object->QueryInterface(riid, ppv);
  object->Release();
  if (FAILED(asked)) {
    *ppv = nullptr;
    return asked;
  }
  return S_OK;
}

HRESULT OleRun(IUnknown* pUnknown) { return pUnknown == nullptr ? E_INVALIDARG : S_OK; }

bool register_com_class(std::u16string_view progid, const CLSID& clsid, ComClassFactory factory) {
  if (progid.empty() || factory == nullptr) return false;
  Registry& reg = registry();
  const std::lock_guard guard(reg.lock);
  for (const ClassEntry& entry : reg.classes) {
    if (entry.clsid == clsid || same_progid(entry.progid, progid)) return false;
  }
  reg.classes.push_back({std::u16string(progid), clsid, factory});
  return true;
}

bool unregister_com_class(const CLSID& clsid) {
  Registry& reg = registry();
  const std::lock_guard guard(reg.lock);
  for (auto it = reg.classes.begin(); it != reg.classes.end(); ++it) {
    if (it->clsid == clsid) {
      reg.classes.erase(it);
      return true;
    }
  }
  return false;
}

ComClassRegistration::ComClassRegistration(std::u16string_view progid, const CLSID& clsid,
                                           ComClassFactory factory) {
  register_com_class(progid, clsid, factory);
}
