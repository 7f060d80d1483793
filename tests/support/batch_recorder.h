#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/batch_run.h"

namespace vendrake::testing {

// Notes each file's fate in the order the run reports it, as
// "entry -> output path", "entry failed at <step>: <error kind>" or
// "entry passed over: <reason>", and counts the files taken; a file told of
// before the run has said it was taken fails the test.
class BatchRecorder : public engine::BatchObserver {
 public:
  void FileWritten(std::u16string_view entry, std::u16string_view output_path) override;
  void FileFailed(std::u16string_view entry, engine::BatchStep step,
                  const engine::Error& error) override;
  void FilePassedOver(std::u16string_view entry, std::string_view reason) override;
  void FileTaken() override { ++taken; }

  std::vector<std::string> events;
  std::int64_t taken = 0;

 private:
  void Note(std::string event);
};

}  // namespace vendrake::testing
