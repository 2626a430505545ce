#include "platform/vbscript_regexp/vbscript_regexp.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/com/dispatch_object.h"
#include "platform/vbscript_regexp/ecma_pattern.h"

const CLSID CLSID_VBScriptRegExp = {0x3F4DACA4, 0x160D, 0x11D2, {0xA8, 0xE9, 0x00, 0x10, 0x4B, 0x36, 0x5C, 0x9F}};

namespace {

struct CodeFree {
  void operator()(pcre2_code* code) const { pcre2_code_free(code); }
};
struct MatchDataFree {
  void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
};
struct MatchContextFree {
  void operator()(pcre2_match_context* context) const { pcre2_match_context_free(context); }
};
struct JitStackFree {
  void operator()(pcre2_jit_stack* stack) const { pcre2_jit_stack_free(stack); }
};

// A repeated group keeps a frame per repetition, so a long text needs a large stack: 64 MiB
// (reserved, and used only as a search needs it) holds a few million repetitions. Past that,
// or past the interpreter's heap limit when JIT compilation is refused, the search fails
// instead of exhausting memory.
constexpr PCRE2_SIZE jit_stack_start = 32 * 1024;
constexpr PCRE2_SIZE jit_stack_max = 64 * 1024 * 1024;
constexpr std::uint32_t heap_limit_kib = 256 * 1024;

constexpr std::uint32_t unset = std::numeric_limits<std::uint32_t>::max();

PCRE2_SPTR units_of(std::u16string_view text) {
  return reinterpret_cast<PCRE2_SPTR>(text.data());
}

// Everything one Execute found: its own copy of the searched text, so the collection outlives
// the caller's string, and (group_count + 1) offset pairs per match.
struct SearchResult {
  std::u16string subject;
  std::uint32_t group_count = 0;
  std::vector<std::uint32_t> offsets;

  [[nodiscard]] std::size_t match_count() const { return offsets.size() / (2 * (group_count + 1)); }
  [[nodiscard]] std::uint32_t begin(std::size_t match, std::uint32_t group) const {
    return offsets[2 * (match * (group_count + 1) + group)];
  }
  [[nodiscard]] std::uint32_t end(std::size_t match, std::uint32_t group) const {
    return offsets[2 * (match * (group_count + 1) + group) + 1];
  }
  [[nodiscard]] std::u16string_view text(std::size_t match, std::uint32_t group) const {
    const std::uint32_t b = begin(match, group);
    return std::u16string_view(subject).substr(b, end(match, group) - b);
  }
};

using Result = std::shared_ptr<const SearchResult>;

HRESULT index_arg(const DispatchArgs& args, std::size_t size, std::size_t* index) {
  LONG value = 0;
  const HRESULT hr = variant_to_long(args[0], &value);
  if (FAILED(hr)) return hr;
  if (value < 0 || static_cast<std::size_t>(value) >= size) return args.raise(regexp_invalid_call);
  *index = static_cast<std::size_t>(value);
  return S_OK;
}

class SubMatches final : public DispatchObject {
 public:
  SubMatches(Result result, std::size_t match) : result_(std::move(result)), match_(match) {}

 private:
  static constexpr DispatchMember table[] = {
      {.name = "Item", .dispid = DISPID_VALUE, .kinds = dispatch_get, .min_args = 1, .max_args = 1},
      {.name = "Count", .dispid = 1, .kinds = dispatch_get},
  };
  std::span<const DispatchMember> members() const override { return table; }

  HRESULT invoke_member(DISPID dispid, WORD, const DispatchArgs& args, VARIANT* result) override {
    if (dispid == 1) return return_long(result, static_cast<LONG>(result_->group_count));
    std::size_t index = 0;
    const HRESULT hr = index_arg(args, result_->group_count, &index);
    if (FAILED(hr)) return hr;
    const auto group = static_cast<std::uint32_t>(index + 1);
    if (result_->begin(match_, group) == unset) return S_OK;  // took no part: VT_EMPTY
    return return_string(result, result_->text(match_, group));
  }

  Result result_;
  std::size_t match_;
};

class Match final : public DispatchObject {
 public:
  Match(Result result, std::size_t match) : result_(std::move(result)), match_(match) {}

 private:
  static constexpr DispatchMember table[] = {
      {.name = "Value", .dispid = DISPID_VALUE, .kinds = dispatch_get},
      {.name = "FirstIndex", .dispid = 1, .kinds = dispatch_get},
      {.name = "Length", .dispid = 2, .kinds = dispatch_get},
      {.name = "SubMatches", .dispid = 3, .kinds = dispatch_get},
  };
  std::span<const DispatchMember> members() const override { return table; }

  HRESULT invoke_member(DISPID dispid, WORD, const DispatchArgs&, VARIANT* result) override {
    const std::uint32_t begin = result_->begin(match_, 0);
    switch (dispid) {
      case DISPID_VALUE: return return_string(result, result_->text(match_, 0));
      case 1: return return_long(result, static_cast<LONG>(begin));
      case 2: return return_long(result, static_cast<LONG>(result_->end(match_, 0) - begin));
      default: {
        SubMatches* groups = new_dispatch_object<SubMatches>(result_, match_);
        const HRESULT hr = return_object(result, groups);
        groups->Release();
        return hr;
      }
    }
  }

  Result result_;
  std::size_t match_;
};

class MatchCollection final : public DispatchObject {
 public:
  explicit MatchCollection(Result result) : result_(std::move(result)) {}

 private:
  static constexpr DispatchMember table[] = {
      {.name = "Item", .dispid = DISPID_VALUE, .kinds = dispatch_get, .min_args = 1, .max_args = 1},
      {.name = "Count", .dispid = 1, .kinds = dispatch_get},
  };
  std::span<const DispatchMember> members() const override { return table; }

  HRESULT invoke_member(DISPID dispid, WORD, const DispatchArgs& args, VARIANT* result) override {
    if (dispid == 1) return return_long(result, static_cast<LONG>(result_->match_count()));
    std::size_t index = 0;
    const HRESULT hr = index_arg(args, result_->match_count(), &index);
    if (FAILED(hr)) return hr;
    Match* match = new_dispatch_object<Match>(result_, index);
    const HRESULT set = return_object(result, match);
    match->Release();
    return set;
  }

  Result result_;
};

// The text of a string argument without copying a BSTR; other types go through
// VariantChangeType into storage.
HRESULT string_arg(const VARIANT& value, std::u16string* storage, std::u16string_view* text) {
  if (value.vt == VT_BSTR) {
    *text = std::u16string_view(value.bstrVal, SysStringLen(value.bstrVal));
    return S_OK;
  }
  const HRESULT hr = variant_to_string(value, storage);
  if (SUCCEEDED(hr)) *text = *storage;
  return hr;
}

class RegExp final : public DispatchObject {
 private:
  enum Id : DISPID { Pattern = 1, IgnoreCase, Multiline, Global, Execute, Replace, Test };
  static constexpr DispatchMember table[] = {
      {.name = "Pattern", .dispid = Pattern, .kinds = dispatch_get | dispatch_put},
      {.name = "IgnoreCase", .dispid = IgnoreCase, .kinds = dispatch_get | dispatch_put},
      {.name = "Multiline", .dispid = Multiline, .kinds = dispatch_get | dispatch_put},
      {.name = "Global", .dispid = Global, .kinds = dispatch_get | dispatch_put},
      {.name = "Execute", .dispid = Execute, .kinds = dispatch_method, .min_args = 1, .max_args = 1},
      {.name = "Replace", .dispid = Replace, .kinds = dispatch_method, .min_args = 2, .max_args = 2},
      {.name = "Test", .dispid = Test, .kinds = dispatch_method, .min_args = 1, .max_args = 1},
  };
  std::span<const DispatchMember> members() const override { return table; }

  HRESULT invoke_member(DISPID dispid, WORD kind, const DispatchArgs& args,
                        VARIANT* result) override {
    if (kind == dispatch_put) return put(dispid, *args.put_value());
    switch (dispid) {
      case Pattern: return return_string(result, pattern_);
      case IgnoreCase: return return_bool(result, ignore_case_);
      case Multiline: return return_bool(result, multiline_);
      case Global: return return_bool(result, global_);
      case Execute: return execute(args, result);
      case Replace: return replace(args, result);
      default: return test(args, result);
    }
  }

  HRESULT put(DISPID dispid, const VARIANT& value) {
    switch (dispid) {
      case Pattern: return variant_to_string(value, &pattern_);
      case IgnoreCase: return variant_to_bool(value, &ignore_case_);
      case Multiline: return variant_to_bool(value, &multiline_);
      default: return variant_to_bool(value, &global_);
    }
  }

  // Compiles the pattern unless the one compiled last is still current; an error code to raise
  // otherwise.
  HRESULT prepare() {
    if (code_ && compiled_pattern_ == pattern_ && compiled_ignore_case_ == ignore_case_ &&
        compiled_multiline_ == multiline_) {
      return S_OK;
    }
    code_.reset();
    PcrePattern translated;
    if (!translate_ecma_pattern(pattern_, multiline_, &translated)) return regexp_syntax_error;
    std::uint32_t options = PCRE2_UCP | PCRE2_MATCH_UNSET_BACKREF | PCRE2_NEVER_BACKSLASH_C;
    if (ignore_case_) options |= PCRE2_CASELESS;
    int error = 0;
    PCRE2_SIZE error_offset = 0;
    std::unique_ptr<pcre2_code, CodeFree> code(pcre2_compile(
        units_of(translated.text), translated.text.size(), options, &error, &error_offset, nullptr));
    if (!code) return error == PCRE2_ERROR_NOMEMORY ? regexp_out_of_memory : regexp_syntax_error;
    pcre2_jit_compile(code.get(), PCRE2_JIT_COMPLETE);  // the interpreter runs when JIT refuses

    if (!context_) {
      context_.reset(pcre2_match_context_create(nullptr));
      stack_.reset(pcre2_jit_stack_create(jit_stack_start, jit_stack_max, nullptr));
      if (!context_ || !stack_) return regexp_out_of_memory;
      pcre2_set_match_limit(context_.get(), regexp_match_limit);
      pcre2_set_heap_limit(context_.get(), heap_limit_kib);
      pcre2_jit_stack_assign(context_.get(), nullptr, stack_.get());
    }
    code_ = std::move(code);
    group_count_ = translated.group_count;
    compiled_pattern_ = pattern_;
    compiled_ignore_case_ = ignore_case_;
    compiled_multiline_ = multiline_;
    return S_OK;
  }

  // Calls on_match(ovector) for the first match, or for every match when global, and gives
  // S_OK or the code to raise. After an empty match the search goes on one unit further.
  template <class OnMatch>
  HRESULT search(std::u16string_view subject, bool global, OnMatch on_match) {
    if (const HRESULT hr = prepare(); FAILED(hr)) return hr;
    std::unique_ptr<pcre2_match_data, MatchDataFree> data(
        pcre2_match_data_create_from_pattern(code_.get(), nullptr));
    if (!data) return regexp_out_of_memory;
    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data.get());
    PCRE2_SIZE start = 0;
    while (start <= subject.size()) {
      const int rc = pcre2_match(code_.get(), units_of(subject), subject.size(), start, 0,
                                 data.get(), context_.get());
      if (rc == PCRE2_ERROR_NOMATCH) break;
      if (rc == PCRE2_ERROR_NOMEMORY) return regexp_out_of_memory;
      if (rc < 0) return regexp_search_too_long;  // match, depth, heap or JIT stack limit
      on_match(ovector);
      if (!global) break;
      start = ovector[1] == ovector[0] ? ovector[1] + 1 : ovector[1];
    }
    return S_OK;
  }

  HRESULT execute(const DispatchArgs& args, VARIANT* result) {
    auto found = std::make_shared<SearchResult>();
    const HRESULT converted = variant_to_string(args[0], &found->subject);
    if (FAILED(converted)) return converted;
    if (found->subject.size() >= unset) return args.raise(regexp_out_of_memory);
    const HRESULT hr = search(found->subject, global_, [&](const PCRE2_SIZE* ovector) {
      for (std::uint32_t group = 0; group <= group_count_; ++group) {
        const PCRE2_SIZE b = ovector[2 * group];
        const bool took_part = b != PCRE2_UNSET;
        found->offsets.push_back(took_part ? static_cast<std::uint32_t>(b) : unset);
        found->offsets.push_back(took_part ? static_cast<std::uint32_t>(ovector[2 * group + 1]) : unset);
      }
    });
    if (FAILED(hr)) return args.raise(hr);
    found->group_count = group_count_;
    MatchCollection* matches = new_dispatch_object<MatchCollection>(std::move(found));
    const HRESULT set = return_object(result, matches);
    matches->Release();
    return set;
  }

  HRESULT replace(const DispatchArgs& args, VARIANT* result) {
    std::u16string subject_storage;
    std::u16string replacement_storage;
    std::u16string_view subject;
    std::u16string_view replacement;
    HRESULT hr = string_arg(args[0], &subject_storage, &subject);
    if (SUCCEEDED(hr)) hr = string_arg(args[1], &replacement_storage, &replacement);
    if (FAILED(hr)) return hr;

    std::u16string out;
    PCRE2_SIZE copied = 0;
    hr = search(subject, global_, [&](const PCRE2_SIZE* ovector) {
      out.append(subject.substr(copied, ovector[0] - copied));
      expand(replacement, subject, ovector, &out);
      copied = ovector[1];
    });
    if (FAILED(hr)) return args.raise(hr);
    out.append(subject.substr(copied));
    return return_string(result, out);
  }

  HRESULT test(const DispatchArgs& args, VARIANT* result) {
    std::u16string storage;
    std::u16string_view subject;
    HRESULT hr = string_arg(args[0], &storage, &subject);
    if (FAILED(hr)) return hr;
    bool found = false;
    hr = search(subject, false, [&](const PCRE2_SIZE*) { found = true; });
    if (FAILED(hr)) return args.raise(hr);
    return return_bool(result, found);
  }

  // The replacement with $1..$99, $&, $`, $' and $$ resolved for one match. "$nn" takes two
  // digits when that many groups exist, else one; a number naming no group stays literal.
  void expand(std::u16string_view replacement, std::u16string_view subject,
              const PCRE2_SIZE* ovector, std::u16string* out) const {
    auto group_text = [&](std::uint32_t group) {
      const PCRE2_SIZE b = ovector[2 * group];
      if (b == PCRE2_UNSET) return;
      out->append(subject.substr(b, ovector[2 * group + 1] - b));
    };
    auto digit = [&](std::size_t k) -> int {
      if (k >= replacement.size() || replacement[k] < u'0' || replacement[k] > u'9') return -1;
      return replacement[k] - u'0';
    };
    for (std::size_t k = 0; k < replacement.size(); ++k) {
      const char16_t c = replacement[k];
      if (c != u'$' || k + 1 >= replacement.size()) {
        out->push_back(c);
        continue;
      }
      const char16_t next = replacement[k + 1];
      if (next == u'$') {
        out->push_back(u'$');
        ++k;
      } else if (next == u'&') {
        group_text(0);
        ++k;
      } else if (next == u'`') {
        out->append(subject.substr(0, ovector[0]));
        ++k;
      } else if (next == u'\'') {
        out->append(subject.substr(ovector[1]));
        ++k;
      } else if (const int first = digit(k + 1); first >= 0) {
        const int second = digit(k + 2);
        const int two = second >= 0 ? first * 10 + second : -1;
        if (two >= 1 && static_cast<std::uint32_t>(two) <= group_count_) {
          group_text(static_cast<std::uint32_t>(two));
          k += 2;
        } else if (first >= 1 && static_cast<std::uint32_t>(first) <= group_count_) {
          group_text(static_cast<std::uint32_t>(first));
          k += 1;
        } else {
          out->push_back(u'$');
        }
      } else {
        out->push_back(u'$');
      }
    }
  }

  std::u16string pattern_;
  bool ignore_case_ = false;
  bool multiline_ = false;
  bool global_ = false;

  std::unique_ptr<pcre2_match_context, MatchContextFree> context_;
  std::unique_ptr<pcre2_jit_stack, JitStackFree> stack_;
  std::unique_ptr<pcre2_code, CodeFree> code_;
  std::uint32_t group_count_ = 0;
  std::u16string compiled_pattern_;
  bool compiled_ignore_case_ = false;
  bool compiled_multiline_ = false;
};

HRESULT make_regexp(DWORD /*class_context*/, IUnknown** object) {
  *object = new_dispatch_object<RegExp>();
  return S_OK;
}

const ComClassRegistration registration(u"VBScript.RegExp", CLSID_VBScriptRegExp, make_regexp);

}  // namespace
