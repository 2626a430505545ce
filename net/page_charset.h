#pragma once

// The character-set step of web_request: a page that declares a character set other than GBK
// in a meta tag near its start is decoded again from its body bytes.

#include "automation/automation.h"
#include "regex/regex_object.h"
#include "text/text.h"

// What one call of web_request owns for the step, made when the call begins and released when
// it returns, on every path. Making the RegexObject initialises COM on the calling thread once
// and destroying it uninitialises it once.
struct PageCharsetObjects {
  PageCharsetObjects() { body.set_int32(0); }

  RegexObject regex;  // finds the declaration
  ObjectRef stream;   // the "Adodb.Stream" object, only while converting
  Variant body;       // the integer 0 until it carries the body bytes to the stream
};

// Searches the first 1024 bytes of page for "<meta ... charset=name" (no line break between
// the two, any letter case). When a name is found and is not exactly "gbk" or "gb2312", page
// becomes body decoded from that set by the stream object and brought back to GBK: characters
// GBK cannot hold become "?", and the page ends at its first NUL. The page stays as it was
// when nothing is declared, when the stream object cannot be made, and when the stream cannot
// decode the set (an unknown name, for one). COM is initialised around the step and the pump
// runs once when the search itself succeeded.
void apply_declared_charset(PageCharsetObjects& objects, Text& page, const Bytes& body);
