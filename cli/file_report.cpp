#include "cli/file_report.h"

#include "engine/native_path.h"
#include "engine/text_encoding.h"

namespace vendrake::cli {

using engine::BatchStep;
using engine::ErrorKind;

std::string FailureReason(BatchStep step, ErrorKind kind) {
  switch (step) {
    case BatchStep::kCheckName:
      return "the name holds a path separator";
    case BatchStep::kRead:
      if (kind == ErrorKind::kSubscript) return "shorter than 4 bytes";
      if (kind == ErrorKind::kOverflow) return "too large for the scaling pass";
      return "cannot read the file";
    case BatchStep::kScale:
      if (kind == ErrorKind::kOverflow) return "too large for the scaling pass";
      if (kind == ErrorKind::kSubscript) return "no vertex block where the index says";
      if (kind == ErrorKind::kFloatingPoint) return "a floating-point error on a height";
      break;
    case BatchStep::kNameOutput:
      return "no \"_\" in the name";
    case BatchStep::kWrite:
      return "cannot write the output";
  }
  return "unexpected error";
}

void FileReport::FileWritten(std::u16string_view entry, std::u16string_view output_path) {
  out_ << engine::Utf16ToUtf8(entry) << " -> "
       << engine::Utf16ToUtf8(engine::DisplayPath(output_path)) << '\n';
}

void FileReport::FileFailed(std::u16string_view entry, BatchStep step, const engine::Error& error) {
  out_ << engine::Utf16ToUtf8(entry) << ": failed: " << FailureReason(step, error.Kind()) << " ("
       << error.what() << ")\n";
}

}  // namespace vendrake::cli
