#include "window/form1.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPushButton>
#include <QResizeEvent>
#include <QString>
#include <optional>
#include <utility>
#include <vector>

#include "command/messages.h"
#include "command/run_progress.h"
#include "engine/platform/platform_file_system.h"
#include "window/caption_font.h"
#include "window/folder_drop.h"
#include "window/message_box.h"
#include "window/pixel_layout.h"
#include "window/window_description.h"

namespace vendrake::window {
namespace {

// A normalised folder text as its box shows it. The command writes "\\" as the
// separator; this window runs where "/" is the separator and "\\" a character
// a name may hold, so the box shows "/" and the user can copy the path into a
// terminal. The run reads either separator, so what it does is unchanged.
QString AsShownInBox(const std::u16string& text) {
  QString shown = QString::fromStdU16String(text);
  shown.replace(QLatin1Char('\\'), QLatin1Char('/'));
  return shown;
}

// The project's icon at each size it is drawn in; the toolkit picks among them.
QIcon ProjectIcon() {
  QIcon icon;
  for (const int size : {16, 32, 48, 256}) {
    icon.addFile(QStringLiteral(":/vendrake/vendrake-%1.png").arg(size), QSize(size, size));
  }
  return icon;
}

QWidget* CreateControl(const ControlDescription& description, QWidget* parent) {
  const QString text = QString::fromUtf16(description.text);
  QWidget* control = nullptr;
  switch (description.kind) {
    case ControlKind::kPushButton: {
      auto* button = new QPushButton(text, parent);
      // Enter in a text box must not start a run, so no button is the default.
      button->setAutoDefault(false);
      button->setDefault(false);
      control = button;
      break;
    }
    case ControlKind::kTextBox:
      control = new QLineEdit(text, parent);
      break;
    case ControlKind::kLabel: {
      auto* label = new QLabel(text, parent);
      label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      label->setFocusPolicy(Qt::NoFocus);
      control = label;
      break;
    }
  }
  control->setObjectName(QString::fromLatin1(description.name));
  const PixelRect rect = DescribedRect(description);
  control->setGeometry(rect.left, rect.top, rect.width, rect.height);
  return control;
}

}  // namespace

Form1::Form1(QWidget* parent, std::unique_ptr<engine::FileSystem> files)
    : QWidget(parent),
      files_(files != nullptr ? std::move(files) : engine::MakePlatformFileSystem()),
      present_message_(&ShowMessageBox) {
  setWindowTitle(QString::fromUtf16(command::kApplicationTitle));
  setWindowIcon(ProjectIcon());
  CreateControls();
  // The description's fixed sizes (17-pixel captions, 25-pixel boxes) were
  // made for a small, narrow font; a desktop font would be clipped.
  FitCaptionFont(*this);
  const PixelRect client = DescribedClientArea();
  resize(client.width, client.height);
  // A hidden window gets its first resize event only when shown; fit now so
  // the layout is right from the start.
  FitToWidth();
  command1_->setFocus();
  command1_->installEventFilter(this);
  connect(command1_, &QPushButton::clicked, this, &Form1::OnCommand1Click);
  if (QCoreApplication::instance() != nullptr) {
    // Not at commitDataRequest, which a session that is then called off also
    // sends: the run stops once the application is about to quit.
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this,
            &Form1::OnAboutToQuit);
  }
}

Form1::~Form1() {
  run_.RequestStop();
  run_.Join();
}

void Form1::SetMessagePresenter(MessagePresenter presenter) {
  present_message_ = std::move(presenter);
}

void Form1::CreateControls() {
  for (const ControlDescription& description : kForm1Controls) {
    QWidget* control = CreateControl(description, this);
    // Label2 reaches into Text3's column; text boxes and the button stay on top.
    if (description.kind == ControlKind::kLabel) control->lower();
  }
  const std::vector<const ControlDescription*> focus_order = FocusOrder();
  for (std::size_t i = 1; i < focus_order.size(); ++i) {
    setTabOrder(findChild<QWidget*>(QString::fromLatin1(focus_order[i - 1]->name)),
                findChild<QWidget*>(QString::fromLatin1(focus_order[i]->name)));
  }

  // A screen reader names each box by its label, and the button by its caption.
  for (const LabelledBox& pair : kLabelledBoxes) {
    auto* label = findChild<QLabel*>(QString::fromLatin1(pair.label));
    auto* box = findChild<QLineEdit*>(QString::fromLatin1(pair.box));
    label->setBuddy(box);
    box->setAccessibleName(label->text());
  }

  command1_ = findChild<QPushButton*>(QStringLiteral("Command1"));
  text1_ = findChild<QLineEdit*>(QStringLiteral("Text1"));
  text2_ = findChild<QLineEdit*>(QStringLiteral("Text2"));
  text3_ = findChild<QLineEdit*>(QStringLiteral("Text3"));
  // A folder dragged from the file manager onto either path box fills it.
  auto* folder_drop = new FolderDrop(this);
  text2_->installEventFilter(folder_drop);
  text3_->installEventFilter(folder_drop);
  label4_ = findChild<QLabel*>(QStringLiteral("Label4"));
  credit_ = label4_->text();
}

void Form1::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  FitToWidth();
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
  // A button that is not the default ignores Enter; this one is pressed by it
  // when it has the focus, as by Space. Keys reach only the focused widget.
  if (watched == command1_ && event->type() == QEvent::KeyPress) {
    const int key = static_cast<const QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      command1_->click();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void Form1::FitToWidth() {
  const FittedPixels fitted = FitToClientWidth(width());
  text2_->resize(fitted.path_box_width, text2_->height());
  text3_->resize(fitted.path_box_width, text3_->height());
  label4_->move(fitted.credit_left, label4_->y());
}

void Form1::closeEvent(QCloseEvent* event) {
  if (run_.Running()) {
    // Joining the worker here would freeze the window for as long as the
    // group in hand takes to be named. The window answers on, and goes once
    // the run has ended.
    closing_ = true;
    run_.RequestStop();
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
}

void Form1::OnAboutToQuit() {
  if (!run_.Running()) return;
  // The program ends when this returns (at the session's end Windows may end
  // it any moment after), so the run's end is waited for here; its summary is
  // not shown.
  run_.RequestStop();
  if (!run_.WaitFor(kSessionEndPatience)) return;
  run_.Join();
  SetInputsEnabled(true);
  SetButtonEnabled(true);
  SetButtonCaption(command::kIdleCaption);
}

void Form1::SetInputsEnabled(bool enabled) {
  for (QLineEdit* box : {text1_, text2_, text3_}) box->setEnabled(enabled);
}

void Form1::OnCommand1Click() {
  if (run_.Running()) return;
  std::optional<command::ScaleFolders> folders = command::BeginScale(*this, state_);
  if (!folders) {
    // Disabling the button handed the focus on to Text1, selecting its text,
    // where the next Space would replace the scale.
    command1_->setFocus();
    return;
  }
  SetInputsEnabled(false);
  // The worker touches no widget: the window's thread reads the run's result
  // from the queued call, which Qt drops should the window be gone by then.
  run_.Start([this, folders = std::move(*folders)](const std::atomic<bool>& stop) {
    // At most ten counts a second reach the window, so painting them does
    // not hold a fast run back.
    command::RunProgress progress(nullptr, [this](const command::ProgressCount& count) {
      QMetaObject::invokeMethod(
          this,
          [this, caption = QString::fromStdU16String(command::ProgressCaption(count))] {
            if (run_.Running()) label4_->setText(caption);
          },
          Qt::QueuedConnection);
    });
    command::ScaleRun run =
        command::RunScale(folders, state_, *files_, &progress, &stop, engine::DefaultJobs());
    QMetaObject::invokeMethod(
        this, [this, ended = std::move(run)] { OnRunEnded(ended); }, Qt::QueuedConnection);
  });
}

void Form1::OnRunEnded(const command::ScaleRun& run) {
  // Quitting may have waited for the run already.
  if (!run_.Join()) return;
  label4_->setText(credit_);
  SetInputsEnabled(true);
  if (closing_) {
    // No summary is shown to a closed window.
    closing_ = false;
    SetButtonEnabled(true);
    SetButtonCaption(command::kIdleCaption);
    close();
    return;
  }
  command::FinishScale(*this, run);
  command1_->setFocus();
}

std::u16string Form1::SourceText() { return text2_->text().toStdU16String(); }

void Form1::SetSourceText(const std::u16string& text) { text2_->setText(AsShownInBox(text)); }

std::u16string Form1::DestinationText() { return text3_->text().toStdU16String(); }

void Form1::SetDestinationText(const std::u16string& text) { text3_->setText(AsShownInBox(text)); }

std::u16string Form1::ScaleText() { return text1_->text().toStdU16String(); }

void Form1::SetButtonEnabled(bool enabled) { command1_->setEnabled(enabled); }

void Form1::SetButtonCaption(const std::u16string& caption) {
  command1_->setText(QString::fromStdU16String(caption));
  // Painted at once, so that "Working..." shows before the run begins.
  command1_->repaint();
}

void Form1::ShowMessage(const std::u16string& text) {
  present_message_(this, QString::fromStdU16String(text), QString());
}

void Form1::ShowMessageWithDetails(const std::u16string& text, const std::u16string& details) {
  present_message_(this, QString::fromStdU16String(text), QString::fromStdU16String(details));
}

}  // namespace vendrake::window
