#include "cli/file_report.h"

#include "cli/line_escape.h"
#include "command/failure_reason.h"
#include "engine/native_path.h"
#include "engine/text_encoding.h"

namespace vendrake::cli {
std::u16string FailureText(std::u16string_view entry, engine::BatchStep step,
                           const engine::Error& error) {
  return EscapeForLine(command::FailureText(entry, step, error));
}

void FileReport::FileWritten(std::u16string_view entry, std::u16string_view output_path) {
  out_ << engine::Utf16ToUtf8(EscapeForLine(entry)) << " -> "
       << engine::Utf16ToUtf8(EscapeForLine(engine::DisplayPath(output_path))) << '\n';
}

void FileReport::FileFailed(std::u16string_view entry, engine::BatchStep step,
                            const engine::Error& error) {
  out_ << engine::Utf16ToUtf8(EscapeForLine(entry) + u": failed: " +
                              FailureText(entry, step, error))
       << '\n';
}

void FileReport::FilePassedOver(std::u16string_view entry, std::string_view reason) {
  out_ << engine::Utf16ToUtf8(EscapeForLine(entry)) << ": passed over: " << reason << '\n';
}

}  // namespace vendrake::cli
