#pragma once

#include <functional>
#include <streambuf>
#include <string>
#include <string_view>

namespace vendrake::cli {

// A stream buffer that takes the program's UTF-8 output and hands it on as
// UTF-16 text, as a Windows console takes it: at each line's end, on flush,
// and when much has gathered, but never in the middle of a character, whose
// last bytes may come in a later write. Bytes that are not UTF-8 go on as
// engine::Utf8ToUtf16 maps them. The stream fails when `write` does.
class Utf16OutputBuffer : public std::streambuf {
 public:
  // Writes the whole text; false when it could not.
  using Writer = std::function<bool(std::u16string_view text)>;

  explicit Utf16OutputBuffer(Writer write) : write_(std::move(write)) {}

 protected:
  int_type overflow(int_type byte) override;
  std::streamsize xsputn(const char* bytes, std::streamsize count) override;
  int sync() override;

 private:
  // Hands on every whole character gathered so far; false when `write_` fails.
  bool HandOn();

  Writer write_;
  std::string pending_;
};

}  // namespace vendrake::cli
