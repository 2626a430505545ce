#pragma once

// The late-bound automation calls every subsystem drives objects with, and the two owner types
// they pass around: ObjectRef (one counted reference) and Variant (an owned VARIANT).
//
// Text crosses into the automation world as UTF-16 converted from the ANSI code page (936) and
// comes back converted to it, in both directions up to the first NUL character. A call that
// fails gives the empty value of the kind asked for (empty Text, 0, false, an empty ObjectRef,
// an empty Variant); nothing is shown, thrown or logged.

#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "platform/com/com.h"
#include "platform/com/oleauto.h"
#include "text/text.h"

// One counted reference to an object, or nothing. A copy adds a reference; clearing releases it
// and leaves the reference empty; clearing an empty one does nothing.
class ObjectRef {
 public:
  ObjectRef() = default;
  // Takes over the caller's reference (null gives an empty ObjectRef).
  [[nodiscard]] static ObjectRef attach(IUnknown* object);
  ObjectRef(const ObjectRef& other);
  ObjectRef(ObjectRef&& other) noexcept;
  ObjectRef& operator=(const ObjectRef& other);
  ObjectRef& operator=(ObjectRef&& other) noexcept;
  ~ObjectRef();

  void clear();
  [[nodiscard]] bool empty() const { return object_ == nullptr; }
  [[nodiscard]] IUnknown* get() const { return object_; }

 private:
  IUnknown* object_ = nullptr;
};

// An owned VARIANT, VT_EMPTY when made. Every setter first clears what it held; destruction
// clears it. A copy is a VariantCopy (empty when that fails).
class Variant {
 public:
  Variant();
  Variant(const Variant& other);
  Variant(Variant&& other) noexcept;
  Variant& operator=(const Variant& other);
  Variant& operator=(Variant&& other) noexcept;
  ~Variant();

  void clear();
  // VT_BSTR converted from code page 936 up to the first NUL byte.
  void set_text(std::string_view text);
  // VT_ARRAY | VT_UI1, one dimension, lower bound 1, one element per byte.
  void set_bytes(const Bytes& bytes);
  void set_bool(bool value);  // VT_BOOL, true is VARIANT_TRUE (-1)
  void set_int32(std::int32_t value);
  void set_double(double value);

  [[nodiscard]] VARTYPE type() const { return value_.vt; }
  [[nodiscard]] const VARIANT& get() const { return value_; }
  // Clears the variant and hands it out to be filled, as an [out] VARIANT* is.
  [[nodiscard]] VARIANT* receive();

 private:
  VARIANT value_;
};

// One argument of a call. It refers to the caller's value, so it lives only as long as the
// call expression: a boolean becomes VT_BOOL, an integer VT_I4, a double VT_R8, text VT_BSTR, an
// ObjectRef VT_DISPATCH when the object offers IDispatch (else VT_UNKNOWN), a Variant itself.
class Arg {
 public:
  Arg(bool value) : kind_(Kind::Bool), bool_(value) {}
  Arg(std::int32_t value) : kind_(Kind::Int32), int32_(value) {}
  Arg(double value) : kind_(Kind::Double), double_(value) {}
  Arg(std::string_view value) : kind_(Kind::String), text_(value) {}
  Arg(const char* value) : kind_(Kind::String), text_(value) {}
  Arg(const Text& value) : kind_(Kind::String), text_(value) {}
  Arg(const ObjectRef& value) : kind_(Kind::Object), object_(&value) {}
  Arg(const Variant& value) : kind_(Kind::Value), variant_(&value) {}

  enum class Kind { Bool, Int32, Double, String, Object, Value };
  [[nodiscard]] Kind kind() const { return kind_; }
  [[nodiscard]] bool as_bool() const { return bool_; }
  [[nodiscard]] std::int32_t as_int32() const { return int32_; }
  [[nodiscard]] double as_double() const { return double_; }
  [[nodiscard]] std::string_view as_text() const { return text_; }
  [[nodiscard]] const ObjectRef& as_object() const { return *object_; }
  [[nodiscard]] const Variant& as_variant() const { return *variant_; }

 private:
  Kind kind_;
  bool bool_ = false;
  std::int32_t int32_ = 0;
  double double_ = 0;
  std::string_view text_;
  const ObjectRef* object_ = nullptr;
  const Variant* variant_ = nullptr;
};

using Args = std::initializer_list<Arg>;

// The kinds a result can be wanted as: Text, double, bool, ObjectRef, Variant.
template <class T>
concept AutomationKind = std::same_as<T, Text> || std::same_as<T, double> ||
                         std::same_as<T, bool> || std::same_as<T, ObjectRef> ||
                         std::same_as<T, Variant>;

// Creates an object of the class named by progid ("{...}" is read as a class identifier, other
// text as a ProgID), for IUnknown in any context (retried in-process and local only when COM
// answers E_INVALIDARG), and runs it. True on success, with ref's old object released and the
// new one stored; false otherwise, with ref as it was.
[[nodiscard]] bool create_object(ObjectRef& ref, std::string_view progid);

// One IDispatch call each, with the member bound by name at the time of the call. It fails when
// ref is empty, the object offers no IDispatch, the name binds to no member, the member takes
// fewer arguments than given, or Invoke fails (also for an error raised inside the object). The
// result is converted to Wanted with VariantChangeType and no flags; a failed call or
// conversion gives Wanted's empty value.
//   Text pattern = read_property<Text>(regexp, "Pattern");
//   ObjectRef match = read_property<ObjectRef>(matches, "Item", {0.0});
template <AutomationKind Wanted>
[[nodiscard]] Wanted read_property(const ObjectRef& ref, std::string_view name, Args args = {});
template <AutomationKind Wanted>
[[nodiscard]] Wanted call_method(const ObjectRef& ref, std::string_view name, Args args = {});
// A property put with the value as the named argument DISPID_PROPERTYPUT; true exactly when
// the write succeeded.
bool write_property(const ObjectRef& ref, std::string_view name, const Arg& value);

// A string as it is; anything else through VariantChangeType to VT_BSTR with no flags (a
// boolean gives "-1" or "0", an empty variant ""); a value that does not convert gives "".
[[nodiscard]] Text variant_to_text(const Variant& value);
