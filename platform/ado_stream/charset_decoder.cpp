#include "platform/ado_stream/charset_decoder.h"

#include <errno.h>
#include <iconv.h>

#include <array>
#include <climits>
#include <memory>

#include "platform/codepage/codepage.h"

namespace {

constexpr char16_t replacement_char = 0xFFFD;
// Longer than any character-set name in use; a longer name is not looked up at all.
constexpr std::size_t max_name_size = 64;

struct Alias {
  std::string_view name;  // lower case
  CharsetId id;
};

constexpr CharsetId cp936{"CP936", true, false};
constexpr CharsetId utf8{"UTF-8", false, true};
constexpr CharsetId utf16le{"UTF-16LE", false, false};
constexpr CharsetId utf16be{"UTF-16BE", false, false};

constexpr CharsetId plain(const char* iconv_name) { return {iconv_name, false, false}; }

// The names pages declare, as the Windows charset database and browsers accept them.
constexpr std::array aliases = {
    Alias{"unicode", utf16le}, Alias{"utf-16", utf16le}, Alias{"utf-16le", utf16le},
    Alias{"ucs-2", utf16le}, Alias{"iso-10646-ucs-2", utf16le}, Alias{"csunicode", utf16le},
    Alias{"unicodefffe", utf16be}, Alias{"utf-16be", utf16be},
    Alias{"utf-8", utf8}, Alias{"utf8", utf8}, Alias{"unicode-1-1-utf-8", utf8},
    Alias{"unicode-2-0-utf-8", utf8}, Alias{"x-unicode20utf8", utf8},
    Alias{"gb2312", cp936}, Alias{"gbk", cp936}, Alias{"cp936", cp936},
    Alias{"windows-936", cp936}, Alias{"x-gbk", cp936}, Alias{"gb_2312-80", cp936},
    Alias{"gb_2312", cp936}, Alias{"csgb2312", cp936}, Alias{"csgb231280", cp936},
    Alias{"chinese", cp936}, Alias{"iso-ir-58", cp936}, Alias{"euc-cn", cp936},
    Alias{"x-euc-cn", cp936}, Alias{"ms936", cp936},
    Alias{"gb18030", plain("GB18030")},
    Alias{"big5", plain("CP950")}, Alias{"cn-big5", plain("CP950")},
    Alias{"csbig5", plain("CP950")}, Alias{"x-x-big5", plain("CP950")},
    Alias{"cp950", plain("CP950")}, Alias{"big5-hkscs", plain("BIG5-HKSCS")},
    Alias{"shift_jis", plain("CP932")}, Alias{"shift-jis", plain("CP932")},
    Alias{"sjis", plain("CP932")}, Alias{"x-sjis", plain("CP932")},
    Alias{"ms_kanji", plain("CP932")}, Alias{"csshiftjis", plain("CP932")},
    Alias{"windows-31j", plain("CP932")}, Alias{"cp932", plain("CP932")},
    Alias{"euc-jp", plain("EUC-JP")}, Alias{"x-euc-jp", plain("EUC-JP")},
    Alias{"iso-2022-jp", plain("ISO-2022-JP")},
    Alias{"euc-kr", plain("CP949")}, Alias{"ks_c_5601-1987", plain("CP949")},
    Alias{"ks_c_5601", plain("CP949")}, Alias{"cseuckr", plain("CP949")},
    Alias{"korean", plain("CP949")}, Alias{"cp949", plain("CP949")},
    Alias{"windows-949", plain("CP949")},
    Alias{"us-ascii", plain("ASCII")}, Alias{"ascii", plain("ASCII")},
    Alias{"iso-8859-1", plain("ISO-8859-1")}, Alias{"latin1", plain("ISO-8859-1")},
    Alias{"l1", plain("ISO-8859-1")}, Alias{"iso8859-1", plain("ISO-8859-1")},
    Alias{"iso_8859-1", plain("ISO-8859-1")}, Alias{"cp819", plain("ISO-8859-1")},
    Alias{"iso-8859-2", plain("ISO-8859-2")}, Alias{"iso-8859-5", plain("ISO-8859-5")},
    Alias{"iso-8859-7", plain("ISO-8859-7")}, Alias{"iso-8859-9", plain("ISO-8859-9")},
    Alias{"iso-8859-15", plain("ISO-8859-15")}, Alias{"latin-9", plain("ISO-8859-15")},
    Alias{"windows-1250", plain("CP1250")}, Alias{"windows-1251", plain("CP1251")},
    Alias{"windows-1252", plain("CP1252")}, Alias{"windows-1253", plain("CP1253")},
    Alias{"windows-1254", plain("CP1254")}, Alias{"windows-1255", plain("CP1255")},
    Alias{"windows-1256", plain("CP1256")}, Alias{"windows-1257", plain("CP1257")},
    Alias{"windows-1258", plain("CP1258")}, Alias{"cp1252", plain("CP1252")},
    Alias{"x-cp1252", plain("CP1252")}, Alias{"cp1251", plain("CP1251")},
    Alias{"koi8-r", plain("KOI8-R")}, Alias{"koi8-u", plain("KOI8-U")},
};

// ASCII-only folding: tolower() follows the C locale.
char fold_ascii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

// The first character boundary at or before limit, counted from index, so that a piece cut
// there splits no character of the code page.
std::size_t piece_end(UINT code_page, const std::uint8_t* bytes, std::size_t index,
                      std::size_t limit) {
  if (code_page == CP_UTF8) {
    std::size_t end = limit;
    while (end > index + 1 && (bytes[end] & 0xC0) == 0x80) --end;  // continuation byte
    return end;
  }
  std::size_t end = index;
  while (end < limit) {  // limit < byte_count, so bytes[end + 1] exists
    // The pairing of code page 936: lead 0x81..0xFE with trail 0x40..0xFE other than 0x7F.
    const std::uint8_t lead = bytes[end];
    const std::uint8_t trail = bytes[end + 1];
    const bool is_pair = lead >= 0x81 && lead <= 0xFE && trail >= 0x40 && trail <= 0xFE &&
                         trail != 0x7F;
    const std::size_t next = end + (is_pair ? 2 : 1);
    if (next > limit) return end;
    end = next;
  }
  return end;
}

std::u16string decode_code_page(UINT code_page, const std::uint8_t* bytes,
                                std::size_t byte_count) {
  std::u16string out;
  // The code-page layer counts in int; larger inputs go in pieces cut between characters.
  constexpr std::size_t piece_limit = INT_MAX / 2;
  std::size_t index = 0;
  while (index < byte_count) {
    const std::size_t end =
        byte_count - index > piece_limit ? piece_end(code_page, bytes, index, index + piece_limit)
                                         : byte_count;
    const LPCCH in = reinterpret_cast<LPCCH>(bytes + index);
    const int in_count = static_cast<int>(end - index);
    const int needed = MultiByteToWideChar(code_page, 0, in, in_count, nullptr, 0);
    if (needed <= 0) return out;
    const std::size_t old_size = out.size();
    out.resize(old_size + static_cast<std::size_t>(needed));
    const int written =
        MultiByteToWideChar(code_page, 0, in, in_count, out.data() + old_size, needed);
    out.resize(old_size + static_cast<std::size_t>(written > 0 ? written : 0));
    index = end;
  }
  return out;
}

struct IconvCloser {
  void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};

// iconv stops at the first byte it cannot take: that byte becomes U+FFFD and the conversion
// resumes after it. Every turn of the loop consumes input or grows the output, so it ends.
std::u16string decode_iconv(const char* iconv_name, const std::uint8_t* bytes,
                            std::size_t byte_count) {
  std::u16string out;
  const iconv_t cd = iconv_open("UTF-16LE", iconv_name);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    out.assign(byte_count == 0 ? 0 : 1, replacement_char);
    return out;
  }
  const std::unique_ptr<void, IconvCloser> owner(cd);

  out.resize(byte_count + 16);
  char* in = const_cast<char*>(reinterpret_cast<const char*>(bytes));  // iconv never writes it
  std::size_t in_left = byte_count;
  std::size_t used = 0;  // units written
  auto convert = [&](char** in_ptr, std::size_t* in_left_ptr) {
    char* out_ptr = reinterpret_cast<char*>(out.data() + used);
    std::size_t out_left = (out.size() - used) * sizeof(char16_t);
    const std::size_t result = iconv(cd, in_ptr, in_left_ptr, &out_ptr, &out_left);
    used = out.size() - out_left / sizeof(char16_t);
    return result == static_cast<std::size_t>(-1) ? errno : 0;
  };
  while (in_left > 0) {
    const int error = convert(&in, &in_left);
    if (error == 0) break;
    if (error == E2BIG) {
      out.resize(out.size() * 2);
      continue;
    }
    if (used == out.size()) out.resize(out.size() * 2);
    out[used++] = replacement_char;
    if (error == EINVAL) break;  // incomplete sequence at the end
    ++in;                        // EILSEQ and anything else: skip the byte that stopped it
    --in_left;
  }
  // Stateful sets may owe a final shift back.
  while (convert(nullptr, nullptr) == E2BIG) out.resize(out.size() * 2);
  out.resize(used);
  return out;
}

bool starts_with(const std::uint8_t* bytes, std::size_t byte_count, std::string_view prefix) {
  if (byte_count < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (bytes[i] != static_cast<std::uint8_t>(prefix[i])) return false;
  }
  return true;
}

}  // namespace

std::optional<CharsetId> find_charset(std::string_view name) {
  if (name.size() > max_name_size) return std::nullopt;
  std::string folded(name);
  for (char& c : folded) c = fold_ascii(c);
  for (const Alias& alias : aliases) {
    if (alias.name != folded) continue;
    // A set this system's iconv lacks is as unknown as a name never heard of.
    const iconv_t cd = iconv_open("UTF-16LE", alias.id.iconv_name);
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    iconv_close(cd);
    return alias.id;
  }
  return std::nullopt;
}

std::u16string decode_charset(const CharsetId& charset, const std::uint8_t* bytes,
                              std::size_t byte_count) {
  if (charset.is_utf8) {
    if (starts_with(bytes, byte_count, "\xEF\xBB\xBF")) {  // UTF-8 byte-order mark
      bytes += 3;
      byte_count -= 3;
    }
    return decode_code_page(CP_UTF8, bytes, byte_count);
  }
  if (charset.is_code_page_936) return decode_code_page(936, bytes, byte_count);
  const std::string_view name = charset.iconv_name;
  if ((name == "UTF-16LE" && starts_with(bytes, byte_count, "\xFF\xFE")) ||
      (name == "UTF-16BE" && starts_with(bytes, byte_count, "\xFE\xFF"))) {  // byte-order marks
    bytes += 2;
    byte_count -= 2;
  }
  return decode_iconv(charset.iconv_name, bytes, byte_count);
}
