#include "tests/support/batch_recorder.h"

#include "engine/text_encoding.h"

namespace vendrake::testing {

void BatchRecorder::FileWritten(std::u16string_view entry, std::u16string_view output_path) {
  events.push_back(engine::Utf16ToUtf8(entry) + " -> " + engine::Utf16ToUtf8(output_path));
}

void BatchRecorder::FileFailed(std::u16string_view entry, engine::BatchStep step,
                               const engine::Error& error) {
  static constexpr const char* kSteps[] = {"check name",  "read",  "scale",
                                           "name output", "write", "confirm"};
  static constexpr const char* kKinds[] = {"overflow",       "subscript", "invalid argument",
                                           "floating point", "file",      "out of memory"};
  events.push_back(engine::Utf16ToUtf8(entry) + " failed at " + kSteps[static_cast<int>(step)] +
                   ": " + kKinds[static_cast<int>(error.Kind())]);
}

void BatchRecorder::FilePassedOver(std::u16string_view entry, std::string_view reason) {
  events.push_back(engine::Utf16ToUtf8(entry) + " passed over: " + std::string(reason));
}

}  // namespace vendrake::testing
