#pragma once

// The "VBScript.RegExp" automation class, on PCRE2's 16-bit library with JIT.
//
// RegExp: IgnoreCase, Multiline, Global (false when made), Pattern ("" when made); Execute(text)
// gives a match collection, Replace(text, replacement) the text with the first match (every
// match when Global) replaced, Test(text) whether there is a match. Patterns are ECMAScript-3
// regular expressions (see platform/vbscript_regexp/ecma_pattern.h) compiled when a search
// runs; a syntax error raises regexp_syntax_error from Execute, Replace and Test. Offsets
// count UTF-16 units, and a global search that matches the empty text moves on by one unit.
// In a replacement $1..$99, $&, $`, $' and $$ have their usual meaning; any other $ is literal.
//
// Match collection: Count, Item(index from 0; the default member). Match: Value (default),
// FirstIndex, Length, SubMatches. Sub-matches: Count (the groups of the pattern), Item(index),
// which is VT_EMPTY for a group that took no part. An index out of range raises
// regexp_invalid_call.
//
// A search that backtracks without end is stopped after regexp_match_limit steps at one start
// position and raises regexp_search_too_long, where the platform's object would run on; so does
// one that needs more backtracking memory than a few million repetitions of a group take. The
// limit counts per start position, so a pattern whose every attempt runs to the end of the text
// before failing (such as "(a|b)*[cd]" on a long run of "a") still takes time that grows with
// the square of the text's length, as in any backtracking engine.
//
// Left out: Item through enumeration (_NewEnum), a function object as replacement, and the
// Unicode version of the platform's case tables (PCRE2's are used, so U+212A folds with k).

#include <cstdint>

#include "platform/com/com.h"

extern const CLSID CLSID_VBScriptRegExp;

// The codes raised inside the object (EXCEPINFO::scode), as the scripting runtime numbers them.
constexpr HRESULT regexp_invalid_call = make_hresult(0x800A0005);
constexpr HRESULT regexp_out_of_memory = make_hresult(0x800A0007);
constexpr HRESULT regexp_search_too_long = make_hresult(0x800A001C);
constexpr HRESULT regexp_syntax_error = make_hresult(0x800A1399);

// Steps of PCRE2's matcher for one match attempt (its own default).
constexpr std::uint32_t regexp_match_limit = 10'000'000;
