#include "platform/vbscript_regexp/ecma_pattern.h"

#include <utility>
#include <vector>

namespace {

constexpr std::u16string_view word_class = u"A-Za-z0-9_";
constexpr std::u16string_view not_terminator = u"[^\\x{a}\\x{d}\\x{2028}\\x{2029}]";

bool is_digit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool is_octal(char16_t c) { return c >= u'0' && c <= u'7'; }
bool is_ascii_letter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
bool is_alnum(char16_t c) { return is_digit(c) || is_ascii_letter(c); }

int hex_digit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

void append_hex(std::u16string& out, std::uint32_t value) {
  out += u"\\x{";
  constexpr char16_t digits[] = u"0123456789abcdef";
  bool started = false;
  for (int shift = 12; shift >= 0; shift -= 4) {
    const std::uint32_t digit = (value >> shift) & 0xF;
    if (digit != 0 || started || shift == 0) {
      out.push_back(digits[digit]);
      started = true;
    }
  }
  out.push_back(u'}');
}

// Every literal goes out in a form PCRE2 takes literally inside and outside a class.
void append_literal(std::u16string& out, char16_t c) {
  if (is_alnum(c)) {
    out.push_back(c);
  } else {
    append_hex(out, c);
  }
}

void append_number(std::u16string& out, std::uint32_t value) {
  const std::u16string_view digits = u"0123456789";
  std::u16string reversed;
  do {
    reversed.push_back(digits[value % 10]);
    value /= 10;
  } while (value != 0);
  out.append(reversed.rbegin(), reversed.rend());
}

enum class ClassEscape { None, Digit, NotDigit, Word, NotWord, Space, NotSpace };

class Translator {
 public:
  Translator(std::u16string_view source, bool multiline)
      : src_(source), multiline_(multiline) {}

  bool run(PcrePattern* result) {
    total_groups_ = count_groups();
    while (i_ < src_.size()) {
      if (!step()) return false;
    }
    if (open_groups_ != 0) return false;
    result->text = std::move(out_);
    result->group_count = total_groups_;
    return true;
  }

 private:
  // Capturing groups of the whole pattern, so a back-reference can tell a group from an octal
  // escape wherever it stands.
  std::uint32_t count_groups() const {
    std::uint32_t groups = 0;
    bool in_class = false;
    for (std::size_t k = 0; k < src_.size(); ++k) {
      const char16_t c = src_[k];
      if (c == u'\\') {
        ++k;
      } else if (in_class) {
        if (c == u']') in_class = false;
      } else if (c == u'[') {
        in_class = true;
      } else if (c == u'(' && (k + 1 >= src_.size() || src_[k + 1] != u'?')) {
        ++groups;
      }
    }
    return groups;
  }

  bool at(std::size_t k, char16_t c) const { return k < src_.size() && src_[k] == c; }

  // A {n}, {n,} or {n,m} at index k: its length, 0 when there is none there.
  std::size_t brace_quantifier(std::size_t k, std::uint32_t* low, std::uint32_t* high,
                               bool* has_high) const {
    if (!at(k, u'{')) return 0;
    std::size_t p = k + 1;
    auto read = [&](std::uint32_t* value) {
      const std::size_t begin = p;
      std::uint64_t v = 0;
      while (p < src_.size() && is_digit(src_[p])) {
        v = v * 10 + (src_[p] - u'0');
        if (v > 0xFFFFFFFF) v = 0xFFFFFFFF;
        ++p;
      }
      *value = static_cast<std::uint32_t>(v);
      return p > begin;
    };
    if (!read(low)) return 0;
    *has_high = true;
    *high = *low;
    if (at(p, u',')) {
      ++p;
      if (!read(high)) *has_high = false;
    }
    if (!at(p, u'}')) return 0;
    return p + 1 - k;
  }

  bool quantifier_at(std::size_t k) const {
    if (k >= src_.size()) return false;
    const char16_t c = src_[k];
    if (c == u'*' || c == u'+' || c == u'?') return true;
    std::uint32_t low = 0;
    std::uint32_t high = 0;
    bool has_high = false;
    return brace_quantifier(k, &low, &high, &has_high) != 0;
  }

  void atom_done() { can_quantify_ = true; }

  bool step() {
    const char16_t c = src_[i_];
    switch (c) {
      case u'\\': return escape();
      case u'[': return character_class();
      case u'.':
        ++i_;
        out_ += not_terminator;
        atom_done();
        return true;
      case u'^':
        ++i_;
        out_ += multiline_ ? u"(?<!" + std::u16string(not_terminator) + u")" : u"^";
        can_quantify_ = false;
        return true;
      case u'$':
        ++i_;
        out_ += multiline_ ? u"(?!" + std::u16string(not_terminator) + u")" : u"\\z";
        can_quantify_ = false;
        return true;
      case u'(': return open_group();
      case u')':
        if (open_groups_ == 0) return false;
        --open_groups_;
        ++i_;
        out_.push_back(u')');
        atom_done();  // a look-ahead is an atom too
        return true;
      case u'|':
        ++i_;
        out_.push_back(u'|');
        can_quantify_ = false;
        return true;
      case u'*':
      case u'+':
      case u'?':
      case u'{':
        return quantifier();
      default:
        ++i_;
        append_literal(out_, c);
        atom_done();
        return true;
    }
  }

  bool open_group() {
    ++i_;
    if (at(i_, u'?')) {
      if (at(i_ + 1, u':') || at(i_ + 1, u'=') || at(i_ + 1, u'!')) {
        out_ += u"(?";
        out_.push_back(src_[i_ + 1]);
        i_ += 2;
      } else {
        return false;
      }
    } else {
      out_.push_back(u'(');
    }
    ++open_groups_;
    can_quantify_ = false;
    return true;
  }

  bool quantifier() {
    std::uint32_t low = 0;
    std::uint32_t high = 0;
    bool has_high = false;
    std::size_t length = 1;
    if (src_[i_] == u'{') {
      length = brace_quantifier(i_, &low, &high, &has_high);
      if (length == 0) {  // not a quantifier: a literal brace
        ++i_;
        append_literal(out_, u'{');
        atom_done();
        return true;
      }
      if (has_high && low > high) return false;
    }
    if (!can_quantify_) return false;
    if (src_[i_] == u'{') {
      out_.push_back(u'{');
      append_number(out_, low);
      if (!has_high || high != low) {
        out_.push_back(u',');
        if (has_high) append_number(out_, high);
      }
      out_.push_back(u'}');
    } else {
      out_.push_back(src_[i_]);
    }
    i_ += length;
    if (at(i_, u'?')) {
      out_.push_back(u'?');
      ++i_;
    }
    can_quantify_ = false;
    return !quantifier_at(i_);
  }

  // Reads an escape that means one code unit the same way inside and outside a class; false
  // when the escape is of another kind. i_ is on the character after the backslash.
  bool unit_escape(bool in_class, std::uint32_t* unit) {
    const char16_t e = src_[i_];
    switch (e) {
      case u'f': ++i_; *unit = 0x0C; return true;
      case u'n': ++i_; *unit = 0x0A; return true;
      case u'r': ++i_; *unit = 0x0D; return true;
      case u't': ++i_; *unit = 0x09; return true;
      case u'v': ++i_; *unit = 0x0B; return true;
      case u'c':
        if (i_ + 1 < src_.size() &&
            (is_ascii_letter(src_[i_ + 1]) ||
             (in_class && (is_digit(src_[i_ + 1]) || src_[i_ + 1] == u'_')))) {
          *unit = src_[i_ + 1] % 32u;
          i_ += 2;
          return true;
        }
        // "\c" before anything else stands for a backslash; the c is read on its own next.
        *unit = u'\\';
        return true;
      case u'x':
      case u'u': {
        const std::size_t n = e == u'x' ? 2 : 4;
        std::uint32_t value = 0;
        bool ok = i_ + n < src_.size();
        for (std::size_t k = 1; ok && k <= n; ++k) {
          const int digit = hex_digit(src_[i_ + k]);
          if (digit < 0) ok = false;
          value = value << 4 | static_cast<std::uint32_t>(digit < 0 ? 0 : digit);
        }
        if (!ok) {  // not an escape of a unit: the letter itself
          ++i_;
          *unit = e;
          return true;
        }
        i_ += n + 1;
        *unit = value;
        return true;
      }
      default:
        break;
    }
    if (is_digit(e)) {
      // Octal, as the web's scripts read digits that name no group: up to three digits
      // worth at most 0377; 8 and 9 stand for themselves.
      if (e >= u'8') {
        ++i_;
        *unit = e;
        return true;
      }
      std::uint32_t value = 0;
      std::size_t n = 0;
      while (n < 3 && i_ < src_.size() && is_octal(src_[i_]) && value * 8 + (src_[i_] - u'0') <= 0377) {
        value = value * 8 + (src_[i_] - u'0');
        ++i_;
        ++n;
      }
      *unit = value;
      return true;
    }
    return false;
  }

  bool escape() {
    ++i_;
    if (i_ >= src_.size()) return false;
    const char16_t e = src_[i_];
    switch (e) {
      case u'd': ++i_; out_ += u"[0-9]"; atom_done(); return true;
      case u'D': ++i_; out_ += u"[^0-9]"; atom_done(); return true;
      // The ASCII word class with case folding off, so U+212A (Kelvin) is no \w.
      case u'w': ++i_; out_ += u"(?-i:[A-Za-z0-9_])"; atom_done(); return true;
      case u'W': ++i_; out_ += u"(?-i:[^A-Za-z0-9_])"; atom_done(); return true;
      case u's': ++i_; out_ += u"\\s"; atom_done(); return true;
      case u'S': ++i_; out_ += u"\\S"; atom_done(); return true;
      case u'b':
        ++i_;
        out_ += u"(?-i:(?<=[A-Za-z0-9_])(?![A-Za-z0-9_])|(?<![A-Za-z0-9_])(?=[A-Za-z0-9_]))";
        can_quantify_ = false;
        return true;
      case u'B':
        ++i_;
        out_ += u"(?-i:(?<=[A-Za-z0-9_])(?=[A-Za-z0-9_])|(?<![A-Za-z0-9_])(?![A-Za-z0-9_]))";
        can_quantify_ = false;
        return true;
      default:
        break;
    }
    if (e >= u'1' && e <= u'9') {
      std::size_t p = i_;
      std::uint64_t n = 0;
      while (p < src_.size() && is_digit(src_[p])) {
        n = n * 10 + (src_[p] - u'0');
        if (n > 0xFFFFFFFF) n = 0xFFFFFFFF;
        ++p;
      }
      if (n <= total_groups_) {
        i_ = p;
        out_ += u"\\g{";
        append_number(out_, static_cast<std::uint32_t>(n));
        out_.push_back(u'}');
        atom_done();
        return true;
      }
    }
    std::uint32_t unit = 0;
    if (!unit_escape(false, &unit)) {
      unit = e;  // identity escape
      ++i_;
    }
    append_hex(out_, unit);
    atom_done();
    return true;
  }

  // One class atom: a unit, or a class escape with *unit left alone.
  bool class_atom(std::uint32_t* unit, ClassEscape* escape_kind) {
    *escape_kind = ClassEscape::None;
    const char16_t c = src_[i_];
    if (c != u'\\') {
      ++i_;
      *unit = c;
      return true;
    }
    ++i_;
    if (i_ >= src_.size()) return false;
    const char16_t e = src_[i_];
    switch (e) {
      case u'd': *escape_kind = ClassEscape::Digit; break;
      case u'D': *escape_kind = ClassEscape::NotDigit; break;
      case u'w': *escape_kind = ClassEscape::Word; break;
      case u'W': *escape_kind = ClassEscape::NotWord; break;
      case u's': *escape_kind = ClassEscape::Space; break;
      case u'S': *escape_kind = ClassEscape::NotSpace; break;
      case u'b': ++i_; *unit = 0x08; return true;
      default:
        if (!unit_escape(true, unit)) {
          *unit = e;
          ++i_;
        }
        return true;
    }
    ++i_;
    return true;
  }

  bool character_class() {
    ++i_;
    bool negated = false;
    if (at(i_, u'^')) {
      negated = true;
      ++i_;
    }
    std::u16string items;  // the class's own members, in PCRE2 class syntax
    bool not_digit = false;
    bool not_word = false;
    while (true) {
      if (i_ >= src_.size()) return false;
      if (src_[i_] == u']') break;
      std::uint32_t low = 0;
      ClassEscape low_kind = ClassEscape::None;
      if (!class_atom(&low, &low_kind)) return false;
      if (low_kind == ClassEscape::None && at(i_, u'-') && i_ + 1 < src_.size() &&
          src_[i_ + 1] != u']') {
        const std::size_t dash = i_;
        ++i_;
        std::uint32_t high = 0;
        ClassEscape high_kind = ClassEscape::None;
        if (!class_atom(&high, &high_kind)) return false;
        if (high_kind == ClassEscape::None) {
          if (low > high) return false;
          append_hex(items, low);
          items.push_back(u'-');
          append_hex(items, high);
          continue;
        }
        // A class escape cannot end a range: the dash is literal, as the web reads it.
        append_hex(items, low);
        append_hex(items, u'-');
        i_ = dash + 1;
        continue;
      }
      switch (low_kind) {
        case ClassEscape::None: append_hex(items, low); break;
        case ClassEscape::Digit: items += u"0-9"; break;
        case ClassEscape::Word: items += word_class; break;
        case ClassEscape::Space: items += u"\\s"; break;
        case ClassEscape::NotSpace: items += u"\\S"; break;
        case ClassEscape::NotDigit: not_digit = true; break;
        case ClassEscape::NotWord: not_word = true; break;
      }
    }
    ++i_;  // the ]
    atom_done();

    if (!not_digit && !not_word) {
      if (items.empty()) {
        out_ += negated ? u"[\\x{0}-\\x{ffff}]" : u"(?!)";
      } else {
        out_ += negated ? u"[^" : u"[";
        out_ += items;
        out_.push_back(u']');
      }
      return true;
    }
    // \D and \W cannot stand inside a PCRE2 class next to other members without changing
    // meaning under case folding, so the class becomes an alternation or a guarded class.
    const std::u16string digits = u"[0-9]";
    const std::u16string words = u"[" + std::u16string(word_class) + u"]";
    if (!negated) {
      out_ += u"(?:";
      bool first = true;
      auto alternative = [&](const std::u16string& part) {
        if (!first) out_.push_back(u'|');
        out_ += part;
        first = false;
      };
      if (!items.empty()) alternative(u"[" + items + u"]");
      if (not_digit) alternative(u"[^0-9]");
      if (not_word) alternative(u"[^" + std::u16string(word_class) + u"]");
      out_.push_back(u')');
    } else {
      // Not (items or non-digit or non-word): a digit (or word unit) that is none of the items.
      out_ += u"(?:";
      if (!items.empty()) out_ += u"(?![" + items + u"])";
      out_ += not_digit ? digits : words;
      out_.push_back(u')');
    }
    return true;
  }

  std::u16string_view src_;
  bool multiline_;
  std::size_t i_ = 0;
  std::u16string out_;
  std::uint32_t total_groups_ = 0;
  std::uint32_t open_groups_ = 0;
  bool can_quantify_ = false;
};

}  // namespace

bool translate_ecma_pattern(std::u16string_view source, bool multiline, PcrePattern* out) {
  Translator translator(source, multiline);
  PcrePattern result;
  if (!translator.run(&result)) return false;
  *out = std::move(result);
  return true;
}
