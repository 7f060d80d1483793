#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "command/control_surface.h"
#include "engine/file_system.h"
#include "engine/window_state.h"

class QLineEdit;
class QPushButton;
class QResizeEvent;

namespace vendrake::window {

// The program's one window: the three input boxes, the "Scale" button and
// four captions, laid out from the window description and kept fitted to the
// window's width. It owns the window state the Scale command works on and
// runs the command, to its end, inside the button's click.
class Form1 : public QWidget, public command::ControlSurface {
  Q_OBJECT

 public:
  // Shows a message to the user and returns once it has been read.
  using MessagePresenter = std::function<void(QWidget* parent, const QString& text)>;

  explicit Form1(QWidget* parent = nullptr);

  // Replaces the modal message box, for callers that only need the texts.
  void SetMessagePresenter(MessagePresenter presenter);

  std::u16string SourceText() override;
  void SetSourceText(const std::u16string& text) override;
  std::u16string DestinationText() override;
  void SetDestinationText(const std::u16string& text) override;
  std::u16string ScaleText() override;
  void SetButtonEnabled(bool enabled) override;
  void SetButtonCaption(const std::u16string& caption) override;
  void ShowMessage(const std::u16string& text) override;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateControls();
  void FitToWidth();
  void OnCommand1Click();

  QPushButton* command1_ = nullptr;
  QLineEdit* text1_ = nullptr;
  QLineEdit* text2_ = nullptr;
  QLineEdit* text3_ = nullptr;
  QWidget* label4_ = nullptr;

  engine::WindowState state_;
  std::unique_ptr<engine::FileSystem> files_;
  MessagePresenter present_message_;
};

}  // namespace vendrake::window
