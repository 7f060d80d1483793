#pragma once

#include <QString>
#include <QWidget>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "command/control_surface.h"
#include "command/on_scale.h"
#include "engine/file_system.h"
#include "engine/window_state.h"
#include "window/worker_run.h"

class QCloseEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QResizeEvent;

namespace vendrake::window {

// The program's one window: the three input boxes, the "Scale" button and
// four captions, laid out from the window description and kept fitted to the
// window's width. It owns the window state the Scale command works on. The
// button's click checks the inputs; the batch then runs on a worker thread
// while the window, its controls all disabled, goes on painting, its credit
// line counting the files done ("1,057 of 20,000 models"), and the summary
// shows once the run is over. Closing the window during a run stops
// the run after the file in hand; the window goes on answering until the
// group in hand has taken its names, and then closes without a summary. When
// the desktop session ends, the application quits with the run stopped the
// same way, waited for as long as a session's end allows.
class Form1 : public QWidget, public command::ControlSurface {
  Q_OBJECT

 public:
  // Shows a message, and its details unless they are empty, to the user and
  // returns once it has been read.
  using MessagePresenter =
      std::function<void(QWidget* parent, const QString& text, const QString& details)>;

  // Works on the platform's file system, or on `files` when given.
  explicit Form1(QWidget* parent = nullptr, std::unique_ptr<engine::FileSystem> files = nullptr);
  Form1(const Form1&) = delete;
  Form1& operator=(const Form1&) = delete;
  ~Form1() override;

  // Whether a batch runs on the worker thread.
  bool Running() const { return run_.Running(); }

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
  void ShowMessageWithDetails(const std::u16string& text, const std::u16string& details) override;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateControls();
  void FitToWidth();
  void OnCommand1Click();
  // Back on the window's thread once the worker's run has ended.
  void OnRunEnded(const command::ScaleRun& run);
  void SetInputsEnabled(bool enabled);
  // The application is about to quit, as at the end of the desktop session:
  // stops the run in hand and waits for it, at most kSessionEndPatience.
  void OnAboutToQuit();

  QPushButton* command1_ = nullptr;
  QLineEdit* text1_ = nullptr;
  QLineEdit* text2_ = nullptr;
  QLineEdit* text3_ = nullptr;
  QLabel* label4_ = nullptr;
  // The credit line's text, which it shows again once a run has ended.
  QString credit_;

  engine::WindowState state_;
  std::unique_ptr<engine::FileSystem> files_;
  MessagePresenter present_message_;
  // Closed during a run: the window goes once the run has ended.
  bool closing_ = false;
  WorkerRun run_;
};

}  // namespace vendrake::window
