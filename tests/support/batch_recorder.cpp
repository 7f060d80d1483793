#include "tests/support/batch_recorder.h"

#include <gtest/gtest.h>

#include <utility>

#include "engine/text_encoding.h"

namespace vendrake::testing {

void BatchRecorder::Note(std::string event) {
  if (std::ssize(events) >= taken) ADD_FAILURE() << event << ": told before it was taken";
  events.push_back(std::move(event));
}

void BatchRecorder::FileWritten(std::u16string_view entry, std::u16string_view output_path) {
  Note(engine::Utf16ToUtf8(entry) + " -> " + engine::Utf16ToUtf8(output_path));
}

void BatchRecorder::FileFailed(std::u16string_view entry, engine::BatchStep step,
                               const engine::Error& error) {
  static constexpr const char* kSteps[] = {"check name",  "read",  "scale",
                                           "name output", "write", "confirm"};
  static constexpr const char* kKinds[] = {"overflow",       "subscript", "invalid argument",
                                           "floating point", "file",      "out of memory"};
  Note(engine::Utf16ToUtf8(entry) + " failed at " + kSteps[static_cast<int>(step)] + ": " +
       kKinds[static_cast<int>(error.Kind())]);
}

void BatchRecorder::FilePassedOver(std::u16string_view entry, std::string_view reason) {
  Note(engine::Utf16ToUtf8(entry) + " passed over: " + std::string(reason));
}

}  // namespace vendrake::testing
