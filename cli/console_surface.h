#pragma once

#include <string>
#include <vector>

#include "command/control_surface.h"

namespace vendrake::cli {

// The command's controls on a console: the three texts are the options as
// given, the button does not show, and messages are kept for the caller to
// print once it knows how the command ended.
class ConsoleSurface : public command::ControlSurface {
 public:
  ConsoleSurface(std::u16string source, std::u16string destination, std::u16string scale);

  std::u16string SourceText() override { return source_; }
  void SetSourceText(const std::u16string& text) override { source_ = text; }
  std::u16string DestinationText() override { return destination_; }
  void SetDestinationText(const std::u16string& text) override { destination_ = text; }
  std::u16string ScaleText() override { return scale_; }
  void SetButtonEnabled(bool /*enabled*/) override {}
  void SetButtonCaption(const std::u16string& /*caption*/) override {}
  void ShowMessage(const std::u16string& text) override { messages_.push_back(text); }

  const std::vector<std::u16string>& Messages() const { return messages_; }

 private:
  std::u16string source_;
  std::u16string destination_;
  std::u16string scale_;
  std::vector<std::u16string> messages_;
};

}  // namespace vendrake::cli
