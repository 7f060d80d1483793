#pragma once

#include <string>
#include <vector>

#include "command/control_surface.h"

namespace vendrake::testing {

// A control surface over plain values that records every change made to it,
// in order, as readable lines:
//   source <- text, destination <- text, button enabled / button disabled,
//   caption <- text, message: text, details: text
// A test asserts the whole list, so nothing the command does goes unnoticed.
class RecordingSurface : public command::ControlSurface {
 public:
  RecordingSurface(std::u16string source, std::u16string destination, std::u16string scale)
      : source_(std::move(source)),
        destination_(std::move(destination)),
        scale_(std::move(scale)) {}

  std::u16string SourceText() override { return source_; }
  void SetSourceText(const std::u16string& text) override;
  std::u16string DestinationText() override { return destination_; }
  void SetDestinationText(const std::u16string& text) override;
  std::u16string ScaleText() override { return scale_; }
  void SetButtonEnabled(bool enabled) override;
  void SetButtonCaption(const std::u16string& caption) override;
  void ShowMessage(const std::u16string& text) override;
  void ShowMessageWithDetails(const std::u16string& text, const std::u16string& details) override;

  const std::vector<std::u16string>& Events() const { return events_; }
  bool ButtonEnabled() const { return enabled_; }
  const std::u16string& ButtonCaption() const { return caption_; }

 private:
  std::u16string source_;
  std::u16string destination_;
  std::u16string scale_;
  bool enabled_ = true;
  std::u16string caption_ = u"Scale";
  std::vector<std::u16string> events_;
};

}  // namespace vendrake::testing
