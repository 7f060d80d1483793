#include "cli/file_report.h"

#include "cli/line_escape.h"
#include "engine/native_path.h"
#include "engine/text_encoding.h"

namespace vendrake::cli {
namespace {

using engine::BatchStep;
using engine::ErrorKind;

std::u16string Reason(BatchStep step, ErrorKind kind) {
  if (kind == ErrorKind::kOutOfMemory) return u"out of memory";
  switch (step) {
    case BatchStep::kCheckName:
      break;
    case BatchStep::kRead:
      if (kind == ErrorKind::kSubscript) return u"shorter than 4 bytes";
      if (kind == ErrorKind::kOverflow) return u"too large for the scaling pass";
      return u"cannot read the file";
    case BatchStep::kScale:
      if (kind == ErrorKind::kOverflow) return u"too large for the scaling pass";
      if (kind == ErrorKind::kSubscript) return u"no vertex block where the index says";
      if (kind == ErrorKind::kFloatingPoint) return u"a floating-point error on a height";
      break;
    case BatchStep::kNameOutput:
      return u"no \"_\" in the name";
    case BatchStep::kWrite:
      return u"cannot write the output";
    case BatchStep::kConfirm:
      return u"the disk did not confirm the output's name, which may not survive a crash";
  }
  return u"unexpected error";
}

}  // namespace

std::u16string FailureText(std::u16string_view entry, BatchStep step, const engine::Error& error) {
  if (step == BatchStep::kCheckName) {
    // The engine's detail would only repeat the name. On POSIX a "\" is an
    // ordinary character of a name, which is why it needs saying why it fails.
    const std::size_t at = entry.find_first_of(u"\\/");
    if (at != std::u16string_view::npos) {
      return u"the name holds a \"" + std::u16string(1, entry[at]) +
             u"\", which folder texts read as a separator";
    }
  }
  return Reason(step, error.Kind()) + u" (" + EscapeForLine(engine::Utf8ToUtf16(error.what())) +
         u")";
}

void FileReport::FileWritten(std::u16string_view entry, std::u16string_view output_path) {
  out_ << engine::Utf16ToUtf8(EscapeForLine(entry)) << " -> "
       << engine::Utf16ToUtf8(EscapeForLine(engine::DisplayPath(output_path))) << '\n';
}

void FileReport::FileFailed(std::u16string_view entry, BatchStep step, const engine::Error& error) {
  out_ << engine::Utf16ToUtf8(EscapeForLine(entry) + u": failed: " +
                              FailureText(entry, step, error))
       << '\n';
}

void FileReport::FilePassedOver(std::u16string_view entry, std::string_view reason) {
  out_ << engine::Utf16ToUtf8(EscapeForLine(entry)) << ": passed over: " << reason << '\n';
}

}  // namespace vendrake::cli
