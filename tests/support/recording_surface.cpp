#include "tests/support/recording_surface.h"

namespace vendrake::testing {

void RecordingSurface::SetSourceText(const std::u16string& text) {
  source_ = text;
  events_.push_back(u"source <- " + text);
}

void RecordingSurface::SetDestinationText(const std::u16string& text) {
  destination_ = text;
  events_.push_back(u"destination <- " + text);
}

void RecordingSurface::SetButtonEnabled(bool enabled) {
  enabled_ = enabled;
  events_.push_back(enabled ? u"button enabled" : u"button disabled");
}

void RecordingSurface::SetButtonCaption(const std::u16string& caption) {
  caption_ = caption;
  events_.push_back(u"caption <- " + caption);
}

void RecordingSurface::ShowMessage(const std::u16string& text) {
  events_.push_back(u"message: " + text);
}

void RecordingSurface::ShowMessageWithDetails(const std::u16string& text,
                                              const std::u16string& details) {
  ShowMessage(text);
  events_.push_back(u"details: " + details);
}

}  // namespace vendrake::testing
