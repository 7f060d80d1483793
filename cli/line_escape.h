#pragma once

#include <string>
#include <string_view>

namespace vendrake::cli {

// `text` in a form that keeps to one line and cannot drive a terminal: "%",
// every control character (U+0000 to U+001F, U+007F to U+009F) and every code
// unit that is not valid text (a lone surrogate, which is how a POSIX file
// name byte that is not valid UTF-8 is held; see engine/text_encoding.h)
// become "%" and two upper-case hex digits for each byte of their UTF-8 form
// as engine::Utf16ToUtf8 writes it: a newline is %0A, ESC %1B, "%" %25, U+0085
// %C2%85, the file-name byte 0xFF %FF. Everything else is kept as it is, so
// replacing every %HH by its byte gives back the text's exact bytes.
std::u16string EscapeForLine(std::u16string_view text);

// EscapeForLine of a byte string in the platform's file-name bytes, such as a
// native path or an engine::Error's detail, back in those bytes.
std::string EscapeBytesForLine(std::string_view bytes);

// EscapeBytesForLine with "%" kept as it is, for a short text the user typed
// and reads back quoted ("150%"), where a "%" is far likelier than an escape.
std::string EscapeControlsForLine(std::string_view bytes);

}  // namespace vendrake::cli
