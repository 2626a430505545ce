#pragma once

// RegexObject: one "VBScript.RegExp" automation object, the match collection of its last search
// and the text that search ran on, driven only through the automation calls.
//
// Every failure gives the empty value of its kind (false, empty Text, 0) and nothing is shown,
// thrown or logged. Each instance initialises COM on the thread that makes it and uninitialises
// it once when destroyed, so it must be destroyed on that thread after its last use. After
// destroy() the instance is inert: queries give empty values and destruction does nothing more.
//
// Byte positions: the object counts offsets in UTF-16 units; a position here is the 0-based
// byte offset in the searched text (the subject as it converts back to code page 936), found
// with find_text from the byte at which the match starts. A group's text is searched from the
// start of its whole match, so when the same text occurs earlier inside the match, that
// earlier place is given. -2 means the text was not found (an empty result gives 0 while a
// byte remains at or after the start).

#include <memory>
#include <optional>
#include <string_view>

#include "automation/automation.h"
#include "text/text.h"

class RegexObject {
 public:
  // regexp and matches empty, subject the integer 0, CoInitialize(nullptr) (result not looked at).
  RegexObject();
  // Runs destroy() unless it has run.
  virtual ~RegexObject();
  RegexObject(const RegexObject&) = delete;
  RegexObject& operator=(const RegexObject&) = delete;

  // The virtual operations, in the order of their slots.

  // Releases regexp, then matches, clears subject, then CoUninitialize (once per instance).
  virtual void destroy();
  // A new instance sharing this one's objects (one more reference each) with a copy of its
  // subject; it initialises COM for itself. Empty when this one is destroyed.
  [[nodiscard]] virtual std::unique_ptr<RegexObject> copy() const;
  // Makes a new object, sets IgnoreCase = !case_sensitive (default: ignore case), Multiline
  // (default true), Global (default true) and the pattern (with quote_marker, default false,
  // every "#引号" turned into a double quote), then searches subject_text. True when the search
  // gave a match collection (also an empty one); false when the object cannot be made or the
  // search fails (a syntax error). Nothing of an earlier create survives.
  virtual bool create(std::string_view pattern, std::string_view subject_text,
                      std::optional<bool> case_sensitive = std::nullopt,
                      std::optional<bool> multiline = std::nullopt,
                      std::optional<bool> global = std::nullopt,
                      std::optional<bool> quote_marker = std::nullopt);
  // Does nothing.
  virtual void no_op();
  // The pattern the object holds (quote markers already turned into quotes); empty without one.
  [[nodiscard]] virtual Text pattern_text() const;
  // The subject with the first match (every match when global) replaced; $1..$99, $&, $`, $'
  // and $$ mean what the object makes of them. Empty without an object or on a failed search.
  [[nodiscard]] virtual Text replace(const Text& replacement) const;
  // Matches of the last search; 0 before the first create and after a failed one.
  [[nodiscard]] virtual int match_count() const;
  // Text of match match_index (1-based); empty for an index out of range. *position, when
  // given, gets its byte offset (see above).
  [[nodiscard]] virtual Text match_text(int match_index, int* position = nullptr) const;
  // Text of group submatch_index (1-based) of match match_index (1-based); empty for a group
  // that took no part and for indices out of range. *position as for match_text.
  [[nodiscard]] virtual Text submatch_text(int match_index, int submatch_index,
                                           int* position = nullptr) const;
  // Capture groups of the pattern, read from the first match; 0 when nothing matched.
  [[nodiscard]] virtual int submatch_count() const;

 private:
  [[nodiscard]] int position_of(const Text& found, const ObjectRef& match) const;

  ObjectRef regexp_;
  ObjectRef matches_;
  Variant subject_;
  bool destroyed_ = false;
};
