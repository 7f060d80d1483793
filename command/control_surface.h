#pragma once

#include <string>

namespace vendrake::command {

// The controls the Scale command works on. The main window implements it over
// its widgets; the console front end and the tests implement it over plain
// values. Texts are UTF-16.
class ControlSurface {
 public:
  virtual ~ControlSurface() = default;

  // The source folder box, read and written back in normalised form.
  virtual std::u16string SourceText() = 0;
  virtual void SetSourceText(const std::u16string& text) = 0;
  // The destination folder box, likewise.
  virtual std::u16string DestinationText() = 0;
  virtual void SetDestinationText(const std::u16string& text) = 0;
  // The scale factor box, only read.
  virtual std::u16string ScaleText() = 0;

  virtual void SetButtonEnabled(bool enabled) = 0;
  virtual void SetButtonCaption(const std::u16string& caption) = 0;

  // Shows `text` to the user and returns once they have seen it: in the
  // window, a modal box with one OK button, no icon, titled kApplicationTitle.
  virtual void ShowMessage(const std::u16string& text) = 0;
  // Shows `text` as ShowMessage does, with `details` (lines, never empty) to
  // be read on request: in the window, an expandable section of the box. A
  // surface with nowhere to put them shows the text alone.
  virtual void ShowMessageWithDetails(const std::u16string& text, const std::u16string& details) {
    static_cast<void>(details);
    ShowMessage(text);
  }
};

}  // namespace vendrake::command
