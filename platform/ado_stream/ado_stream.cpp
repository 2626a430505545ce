#include "platform/ado_stream/ado_stream.h"

#include <optional>
#include <string>
#include <vector>

#include "platform/ado_stream/charset_decoder.h"
#include "platform/com/dispatch_object.h"
#include "platform/com/oleauto.h"

// A class identifier of our own; the program finds the class by its ProgID.
const CLSID CLSID_AdodbStreamStandIn = {
    0x6A1C5E20, 0x3B7D, 0x4F0E, {0x9A, 0x41, 0x52, 0x8E, 0x0D, 0x6B, 0x13, 0xC7}};

namespace {

constexpr LONG type_binary = 1;  // adTypeBinary
constexpr LONG type_text = 2;    // adTypeText

enum Member : DISPID {
  member_type = 1,
  member_mode,
  member_position,
  member_charset,
  member_open,
  member_write,
  member_read_text,
  member_close,
};

constexpr DispatchMember stream_members[] = {
    {.name = "Type", .dispid = member_type, .kinds = dispatch_get | dispatch_put},
    {.name = "Mode", .dispid = member_mode, .kinds = dispatch_get | dispatch_put},
    {.name = "Position", .dispid = member_position, .kinds = dispatch_get | dispatch_put},
    {.name = "Charset", .dispid = member_charset, .kinds = dispatch_get | dispatch_put},
    {.name = "Open", .dispid = member_open, .kinds = dispatch_method},
    {.name = "Write", .dispid = member_write, .kinds = dispatch_method, .min_args = 1,
     .max_args = 1},
    {.name = "ReadText", .dispid = member_read_text, .kinds = dispatch_method},
    {.name = "Close", .dispid = member_close, .kinds = dispatch_method},
};

// Character-set names are ASCII; anything else cannot name a set the decoder knows.
std::optional<std::string> ascii_name(const std::u16string& name) {
  std::string ascii;
  ascii.reserve(name.size());
  for (char16_t unit : name) {
    if (unit == 0 || unit > 0x7F) return std::nullopt;
    ascii.push_back(static_cast<char>(unit));
  }
  return ascii;
}

// The bytes of a VT_ARRAY | VT_UI1 value, or nullopt for anything else.
std::optional<std::vector<BYTE>> array_bytes(const VARIANT& value) {
  if (value.vt != (VT_ARRAY | VT_UI1) || value.parray == nullptr) return std::nullopt;
  SAFEARRAY* array = value.parray;
  if (SafeArrayGetDim(array) != 1) return std::nullopt;
  LONG lower = 0;
  LONG upper = 0;
  if (FAILED(SafeArrayGetLBound(array, 1, &lower)) || FAILED(SafeArrayGetUBound(array, 1, &upper))) {
    return std::nullopt;
  }
  std::vector<BYTE> bytes;
  if (upper < lower) return bytes;
  void* data = nullptr;
  if (FAILED(SafeArrayAccessData(array, &data))) return std::nullopt;
  const BYTE* first = static_cast<const BYTE*>(data);
  bytes.assign(first, first + (static_cast<std::int64_t>(upper) - lower + 1));
  (void)SafeArrayUnaccessData(array);
  return bytes;
}

class AdodbStream final : public DispatchObject {
 protected:
  std::span<const DispatchMember> members() const override { return stream_members; }

  HRESULT invoke_member(DISPID dispid, WORD kind, const DispatchArgs& args,
                        VARIANT* result) override {
    switch (dispid) {
      case member_type: return kind == dispatch_put ? put_type(args) : return_long(result, type_);
      case member_mode: return kind == dispatch_put ? put_mode(args) : return_long(result, mode_);
      case member_position:
        return kind == dispatch_put ? put_position(args)
                                    : return_long(result, static_cast<LONG>(position_));
      case member_charset:
        return kind == dispatch_put ? put_charset(args) : return_string(result, charset_);
      case member_open: return open(args);
      case member_write: return write(args);
      case member_read_text: return read_text(args, result);
      case member_close: return close(args);
      default: return DISP_E_MEMBERNOTFOUND;
    }
  }

 private:
  HRESULT put_type(const DispatchArgs& args) {
    LONG value = 0;
    if (FAILED(variant_to_long(*args.put_value(), &value))) return args.raise(ado_error_wrong_type);
    if (value != type_binary && value != type_text) return args.raise(ado_error_wrong_type);
    if (position_ != 0) return args.raise(ado_error_not_allowed);
    type_ = value;
    return S_OK;
  }

  HRESULT put_mode(const DispatchArgs& args) {
    LONG value = 0;
    if (FAILED(variant_to_long(*args.put_value(), &value))) return args.raise(ado_error_wrong_type);
    if (is_open_) return args.raise(ado_error_open);
    mode_ = value;
    return S_OK;
  }

  HRESULT put_position(const DispatchArgs& args) {
    LONG value = 0;
    if (FAILED(variant_to_long(*args.put_value(), &value))) return args.raise(ado_error_wrong_type);
    if (!is_open_) return args.raise(ado_error_closed);
    if (value < 0 || static_cast<std::size_t>(value) > bytes_.size()) {
      return args.raise(ado_error_wrong_type);
    }
    position_ = static_cast<std::size_t>(value);
    return S_OK;
  }

  HRESULT put_charset(const DispatchArgs& args) {
    std::u16string value;
    if (FAILED(variant_to_string(*args.put_value(), &value))) {
      return args.raise(ado_error_wrong_type);
    }
    if (position_ != 0) return args.raise(ado_error_not_allowed);
    charset_ = std::move(value);
    return S_OK;
  }

  HRESULT open(const DispatchArgs& args) {
    if (is_open_) return args.raise(ado_error_open);
    is_open_ = true;
    bytes_.clear();
    position_ = 0;
    return S_OK;
  }

  HRESULT write(const DispatchArgs& args) {
    if (!is_open_) return args.raise(ado_error_closed);
    if (type_ != type_binary) return args.raise(ado_error_not_allowed);
    std::optional<std::vector<BYTE>> data = array_bytes(args[0]);
    if (!data) return args.raise(ado_error_wrong_type);
    if (bytes_.size() < position_ + data->size()) bytes_.resize(position_ + data->size());
    std::copy(data->begin(), data->end(), bytes_.begin() + static_cast<std::ptrdiff_t>(position_));
    position_ += data->size();
    return S_OK;
  }

  HRESULT read_text(const DispatchArgs& args, VARIANT* result) {
    if (!is_open_) return args.raise(ado_error_closed);
    if (type_ != type_text) return args.raise(ado_error_not_allowed);
    const std::optional<std::string> name = ascii_name(charset_);
    const std::optional<CharsetId> charset = name ? find_charset(*name) : std::nullopt;
    if (!charset) return args.raise(ado_error_unknown_charset);
    const std::u16string text =
        decode_charset(*charset, bytes_.data() + position_, bytes_.size() - position_);
    const HRESULT hr = return_string(result, text);
    if (FAILED(hr)) return args.raise(hr);
    position_ = bytes_.size();
    return S_OK;
  }

  HRESULT close(const DispatchArgs& args) {
    if (!is_open_) return args.raise(ado_error_closed);
    is_open_ = false;
    bytes_.clear();
    bytes_.shrink_to_fit();
    position_ = 0;
    return S_OK;
  }

  LONG type_ = type_text;
  LONG mode_ = 0;  // adModeUnknown
  std::u16string charset_ = u"Unicode";
  bool is_open_ = false;
  std::vector<BYTE> bytes_;
  std::size_t position_ = 0;
};

}  // namespace

HRESULT create_adodb_stream(DWORD /*class_context*/, IUnknown** object) {
  *object = new_dispatch_object<AdodbStream>();
  return S_OK;
}

namespace {
const ComClassRegistration registration(u"Adodb.Stream", CLSID_AdodbStreamStandIn,
                                        create_adodb_stream);
}  // namespace
