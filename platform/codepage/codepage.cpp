#include "platform/codepage/codepage.h"

#include <iconv.h>

#include <array>
#include <cstddef>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr char16_t replacement_char = 0xFFFD;

// Double-byte characters of code page 936: lead 0x81..0xFE, trail 0x40..0xFE without 0x7F.
constexpr unsigned first_lead = 0x81;
constexpr unsigned last_lead = 0xFE;
constexpr unsigned first_trail = 0x40;
constexpr unsigned last_trail = 0xFE;
constexpr unsigned trail_count = last_trail - first_trail + 1;

constexpr bool is_trail(unsigned char b) { return b >= first_trail && b <= last_trail && b != 0x7F; }
constexpr bool is_dbcs_lead(unsigned char b) { return b >= first_lead && b <= last_lead; }

// The code page's table, generated once from the system's iconv ("CP936", Windows' variant of
// GBK in which 0x80 is the euro sign). 0 marks a code that the table does not hold.
struct Cp936Table {
  std::array<char16_t, 256> single{};                  // bytes 0x80..0xFF
  std::vector<char16_t> pair;                          // (lead - 0x81) * trail_count + (trail - 0x40)
  std::vector<std::uint16_t> encode;                   // UTF-16 unit -> byte (< 0x100) or pair

  Cp936Table() : pair((last_lead - first_lead + 1) * trail_count, 0), encode(0x10000, 0) {
    for (unsigned c = 0; c < 0x80; ++c) encode[c] = static_cast<std::uint16_t>(c);
    const iconv_t cd = iconv_open("UTF-16LE", "CP936");
    if (cd == reinterpret_cast<iconv_t>(-1)) return;  // then only ASCII converts
    const std::unique_ptr<void, int (*)(iconv_t)> closer(cd, iconv_close);

    for (unsigned b = 0x80; b <= 0xFF; ++b) {
      const char in[1] = {static_cast<char>(b)};
      if (const char16_t unit = decode_with(cd, in, 1)) {
        single[b] = unit;
        if (encode[unit] == 0) encode[unit] = static_cast<std::uint16_t>(b);
      }
    }
    for (unsigned lead = first_lead; lead <= last_lead; ++lead) {
      for (unsigned trail = first_trail; trail <= last_trail; ++trail) {
        if (!is_trail(static_cast<unsigned char>(trail))) continue;
        const char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
        const char16_t unit = decode_with(cd, in, 2);
        if (unit == 0) continue;
        pair[(lead - first_lead) * trail_count + (trail - first_trail)] = unit;
        // Where two codes decode alike, the first one is the one that encodes.
        if (encode[unit] == 0) encode[unit] = static_cast<std::uint16_t>(lead << 8 | trail);
      }
    }
  }

  // One BMP unit for the input, or 0 when iconv rejects it or gives anything else.
  static char16_t decode_with(iconv_t cd, const char* in, std::size_t in_size) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* in_ptr = const_cast<char*>(in);  // iconv's signature, it does not write the input
    unsigned char out[4] = {};
    char* out_ptr = reinterpret_cast<char*>(out);
    std::size_t out_left = sizeof out;
    if (iconv(cd, &in_ptr, &in_size, &out_ptr, &out_left) == static_cast<std::size_t>(-1) ||
        in_size != 0 || out_left != 2) {
      return 0;
    }
    return static_cast<char16_t>(out[0] | out[1] << 8);
  }
};

const Cp936Table& cp936() {
  static const Cp936Table table;  // built on first use; thread-safe initialisation
  return table;
}

// Writes units while they fit and counts all of them, so one routine serves the size query and
// the conversion.
template <typename Unit>
class Sink {
 public:
  Sink(Unit* out, std::size_t capacity) : out_(out), capacity_(capacity) {}
  void put(Unit unit) {
    if (count_ < capacity_) out_[count_] = unit;
    ++count_;
  }
  std::size_t count() const { return count_; }

 private:
  Unit* out_;
  std::size_t capacity_;
  std::size_t count_ = 0;
};

using WideSink = Sink<char16_t>;
using ByteSink = Sink<char>;

void decode_cp936(const unsigned char* in, std::size_t size, WideSink& sink, bool& invalid) {
  const Cp936Table& table = cp936();
  for (std::size_t i = 0; i < size;) {
    const unsigned char b = in[i];
    if (b < 0x80) {
      sink.put(b);
      ++i;
      continue;
    }
    if (is_dbcs_lead(b) && i + 1 < size && is_trail(in[i + 1])) {
      const char16_t unit = table.pair[(b - first_lead) * trail_count + (in[i + 1] - first_trail)];
      if (unit == 0) invalid = true;
      sink.put(unit != 0 ? unit : replacement_char);
      i += 2;
      continue;
    }
    const char16_t unit = table.single[b];
    if (unit == 0) invalid = true;
    sink.put(unit != 0 ? unit : replacement_char);
    ++i;
  }
}

void decode_utf8(const unsigned char* in, std::size_t size, WideSink& sink, bool& invalid) {
  for (std::size_t i = 0; i < size;) {
    const unsigned char b = in[i];
    if (b < 0x80) {
      sink.put(b);
      ++i;
      continue;
    }
    std::size_t extra = 0;
    char32_t code = 0;
    char32_t minimum = 0;
    if (b >= 0xC2 && b <= 0xDF) {
      extra = 1, code = b & 0x1F, minimum = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
      extra = 2, code = b & 0x0F, minimum = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
      extra = 3, code = b & 0x07, minimum = 0x10000;
    }
    std::size_t taken = 1;
    while (extra != 0 && taken <= extra && i + taken < size && (in[i + taken] & 0xC0) == 0x80) {
      code = code << 6 | (in[i + taken] & 0x3F);
      ++taken;
    }
    const bool ok = extra != 0 && taken == extra + 1 && code >= minimum && code <= 0x10FFFF &&
                    !(code >= 0xD800 && code <= 0xDFFF);
    if (!ok) {
      // One U+FFFD for the maximal bad prefix, then go on with the byte that broke it.
      invalid = true;
      sink.put(replacement_char);
      i += taken;
      continue;
    }
    if (code >= 0x10000) {
      code -= 0x10000;
      sink.put(static_cast<char16_t>(0xD800 + (code >> 10)));
      sink.put(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      sink.put(static_cast<char16_t>(code));
    }
    i += taken;
  }
}

constexpr bool is_high_surrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
constexpr bool is_low_surrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

void encode_cp936(const char16_t* in, std::size_t size, char default_char, ByteSink& sink,
                  bool& used_default) {
  const Cp936Table& table = cp936();
  for (std::size_t i = 0; i < size; ++i) {
    const char16_t unit = in[i];
    if (unit < 0x80) {
      sink.put(static_cast<char>(unit));
      continue;
    }
    const std::uint16_t code = table.encode[unit];
    if (code == 0) {
      used_default = true;
      sink.put(default_char);
      if (is_high_surrogate(unit) && i + 1 < size && is_low_surrogate(in[i + 1])) ++i;
    } else if (code < 0x100) {
      sink.put(static_cast<char>(code));
    } else {
      sink.put(static_cast<char>(code >> 8));
      sink.put(static_cast<char>(code & 0xFF));
    }
  }
}

void encode_utf8(const char16_t* in, std::size_t size, ByteSink& sink, bool& invalid) {
  for (std::size_t i = 0; i < size; ++i) {
    char32_t code = in[i];
    if (is_high_surrogate(in[i]) && i + 1 < size && is_low_surrogate(in[i + 1])) {
      code = 0x10000 + ((code - 0xD800) << 10) + (in[i + 1] - 0xDC00);
      ++i;
    } else if (is_high_surrogate(in[i]) || is_low_surrogate(in[i])) {
      invalid = true;
      code = replacement_char;
    }
    if (code < 0x80) {
      sink.put(static_cast<char>(code));
    } else if (code < 0x800) {
      sink.put(static_cast<char>(0xC0 | code >> 6));
      sink.put(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      sink.put(static_cast<char>(0xE0 | code >> 12));
      sink.put(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
      sink.put(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      sink.put(static_cast<char>(0xF0 | code >> 18));
      sink.put(static_cast<char>(0x80 | (code >> 12 & 0x3F)));
      sink.put(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
      sink.put(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }
}

bool is_cp936(UINT code_page) { return code_page == 936 || code_page == CP_ACP; }

int fail(DWORD error) {
  SetLastError(error);
  return 0;
}

// The count a call returns, or the failure it ends in.
int finish(std::size_t needed, int capacity) {
  if (needed > static_cast<std::size_t>(INT32_MAX)) return fail(ERROR_INVALID_PARAMETER);
  if (capacity != 0 && needed > static_cast<std::size_t>(capacity)) {
    return fail(ERROR_INSUFFICIENT_BUFFER);
  }
  return static_cast<int>(needed);
}

}  // namespace

int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCCH lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar) {
  if ((!is_cp936(CodePage) && CodePage != CP_UTF8) || (dwFlags & ~MB_ERR_INVALID_CHARS) != 0 ||
      lpMultiByteStr == nullptr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
      (cchWideChar > 0 && lpWideCharStr == nullptr)) {
    return fail(ERROR_INVALID_PARAMETER);
  }
  const auto* in = reinterpret_cast<const unsigned char*>(lpMultiByteStr);
  const std::size_t size = cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1
                                             : static_cast<std::size_t>(cbMultiByte);
  WideSink sink(lpWideCharStr, static_cast<std::size_t>(cchWideChar));
  bool invalid = false;
  if (CodePage == CP_UTF8) {
    decode_utf8(in, size, sink, invalid);
  } else {
    decode_cp936(in, size, sink, invalid);
  }
  if (invalid && (dwFlags & MB_ERR_INVALID_CHARS) != 0) return fail(ERROR_NO_UNICODE_TRANSLATION);
  return finish(sink.count(), cchWideChar);
}

int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWCH lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCCH lpDefaultChar,
                        LPBOOL lpUsedDefaultChar) {
  const DWORD known_flags = is_cp936(CodePage) ? (WC_COMPOSITECHECK | WC_NO_BEST_FIT_CHARS)
                                               : WC_ERR_INVALID_CHARS;
  if ((!is_cp936(CodePage) && CodePage != CP_UTF8) || (dwFlags & ~known_flags) != 0 ||
      lpWideCharStr == nullptr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
      (cbMultiByte > 0 && lpMultiByteStr == nullptr) ||
      (CodePage == CP_UTF8 && (lpDefaultChar != nullptr || lpUsedDefaultChar != nullptr))) {
    return fail(ERROR_INVALID_PARAMETER);
  }
  std::size_t size = static_cast<std::size_t>(cchWideChar);
  if (cchWideChar == -1) {
    size = 0;
    while (lpWideCharStr[size] != 0) ++size;
    ++size;
  }
  ByteSink sink(lpMultiByteStr, static_cast<std::size_t>(cbMultiByte));
  if (CodePage == CP_UTF8) {
    bool invalid = false;
    encode_utf8(lpWideCharStr, size, sink, invalid);
    if (invalid && (dwFlags & WC_ERR_INVALID_CHARS) != 0) {
      return fail(ERROR_NO_UNICODE_TRANSLATION);
    }
  } else {
    bool used_default = false;
    encode_cp936(lpWideCharStr, size, lpDefaultChar != nullptr ? *lpDefaultChar : '?', sink,
                 used_default);
    if (lpUsedDefaultChar != nullptr) *lpUsedDefaultChar = used_default ? TRUE : FALSE;
  }
  return finish(sink.count(), cbMultiByte);
}
