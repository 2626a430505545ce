#pragma once

// The "Adodb.Stream" automation class, registered with the COM stand-in when the program is
// linked with platform_ado_stream. Callers reach it only by ProgID through IDispatch:
// - Type (1 binary, 2 text; default 2), settable while Position is 0;
// - Mode (default 0, unknown), settable while the stream is closed;
// - Position in bytes, settable while open, up to the stream's size;
// - Charset (default "Unicode", UTF-16LE), settable while Position is 0. Any name is taken;
//   one the stream cannot decode makes ReadText fail, so the caller never gets text read in a
//   character set other than the one it named;
// - Open (), Write (bytes as VT_ARRAY | VT_UI1, binary mode, written at Position, which moves
//   past them), ReadText () (text mode: everything from Position decoded from Charset, as a
//   string; Position moves to the end), Close ().
// A call that breaks these rules raises an error and changes nothing.
// Left out: Open with a source, ReadText with a character count, Read, WriteText, SaveToFile,
// LoadFromFile, Size, EOS and the other members of the full class.

#include "platform/com/com.h"

// The class identifier the stand-in registers "Adodb.Stream" under, and the factory it
// registers, so that a test can take the class away and bring it back.
extern const CLSID CLSID_AdodbStreamStandIn;
HRESULT create_adodb_stream(DWORD class_context, IUnknown** object);

// Stream object error codes raised through EXCEPINFO.
constexpr HRESULT ado_error_closed = make_hresult(0x800A0E78);        // operation on a closed stream
constexpr HRESULT ado_error_open = make_hresult(0x800A0E79);          // operation on an open stream
constexpr HRESULT ado_error_wrong_type = make_hresult(0x800A0BB9);    // argument of the wrong kind
constexpr HRESULT ado_error_not_allowed = make_hresult(0x800A0C93);   // not allowed in this state
constexpr HRESULT ado_error_unknown_charset = make_hresult(0x800A0CB3);  // Charset not decodable
