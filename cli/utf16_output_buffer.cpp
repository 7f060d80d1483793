#include "cli/utf16_output_buffer.h"

#include "engine/text_encoding.h"

namespace vendrake::cli {
namespace {

constexpr std::size_t kGathered = 4096;

// How many bytes at the end of `bytes` begin a character that is not whole
// yet: a lead byte with fewer continuation bytes after it than it announces.
std::size_t UnfinishedTail(std::string_view bytes) {
  for (std::size_t back = 1; back <= 3 && back <= bytes.size(); ++back) {
    const auto byte = static_cast<unsigned char>(bytes[bytes.size() - back]);
    if ((byte & 0xC0) == 0x80) continue;  // a continuation byte: look further back
    const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
    return length > back ? back : 0;
  }
  return 0;
}

}  // namespace

Utf16OutputBuffer::int_type Utf16OutputBuffer::overflow(int_type byte) {
  if (traits_type::eq_int_type(byte, traits_type::eof())) return traits_type::not_eof(byte);
  const char put = traits_type::to_char_type(byte);
  return xsputn(&put, 1) == 1 ? byte : traits_type::eof();
}

std::streamsize Utf16OutputBuffer::xsputn(const char* bytes, std::streamsize count) {
  const std::string_view text(bytes, static_cast<std::size_t>(count));
  pending_.append(text);
  if (text.find('\n') != std::string_view::npos || pending_.size() >= kGathered) {
    if (!HandOn()) return 0;
  }
  return count;
}

int Utf16OutputBuffer::sync() { return HandOn() ? 0 : -1; }

bool Utf16OutputBuffer::HandOn() {
  const std::size_t whole = pending_.size() - UnfinishedTail(pending_);
  if (whole == 0) return true;
  const std::u16string text = engine::Utf8ToUtf16(std::string_view(pending_).substr(0, whole));
  pending_.erase(0, whole);
  return write_(text);
}

}  // namespace vendrake::cli
