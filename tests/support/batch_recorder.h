#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/batch_run.h"

namespace vendrake::testing {

// Notes each file's fate in the order the run reports it, as
// "entry -> output path", "entry failed at <step>: <error kind>" or
// "entry passed over: <reason>".
class BatchRecorder : public engine::BatchObserver {
 public:
  void FileWritten(std::u16string_view entry, std::u16string_view output_path) override;
  void FileFailed(std::u16string_view entry, engine::BatchStep step,
                  const engine::Error& error) override;
  void FilePassedOver(std::u16string_view entry, std::string_view reason) override;

  std::vector<std::string> events;
};

}  // namespace vendrake::testing
