#include "window/form1.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSize>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/scaled_model.h"
#include "tests/support/temporary_folder.h"
#include "tests/window/expected_layout.h"
#include "tools/synthetic_model.h"

// Readable failure messages for texts and sizes.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QSize& size, std::ostream* out) {
  *out << size.width() << 'x' << size.height();
}

namespace vendrake::window {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;

QWidget* Control(const Form1& form, const char* name) {
  return form.findChild<QWidget*>(QString::fromLatin1(name));
}
QPushButton* Command1(const Form1& form) { return form.findChild<QPushButton*>("Command1"); }
QLineEdit* TextBox(const Form1& form, const char* name) {
  return form.findChild<QLineEdit*>(QString::fromLatin1(name));
}

QString TextOf(const QWidget* control) {
  if (const auto* button = qobject_cast<const QPushButton*>(control)) return button->text();
  if (const auto* box = qobject_cast<const QLineEdit*>(control)) return box->text();
  if (const auto* label = qobject_cast<const QLabel*>(control)) return label->text();
  return {};
}

void ShowAndWait(Form1& form) {
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
}

// Resizing a shown top-level window reaches the widget through the platform,
// so the new size arrives with the event loop.
void ResizeClientTo(Form1& form, int width) {
  form.resize(width, form.height());
  for (int tries = 0; tries < 100 && form.width() != width; ++tries) QTest::qWait(10);
  ASSERT_EQ(form.width(), width);
}

const char* QtClassOf(ControlKind kind) {
  switch (kind) {
    case ControlKind::kPushButton:
      return "QPushButton";
    case ControlKind::kTextBox:
      return "QLineEdit";
    case ControlKind::kLabel:
      break;
  }
  return "QLabel";
}

PixelRect PixelsOf(const QRect& rect) { return {rect.x(), rect.y(), rect.width(), rect.height()}; }

class Form1Description : public ::testing::TestWithParam<ExpectedControl> {};

TEST_P(Form1Description, ControlHasItsKindTextAndPlace) {
  const ExpectedControl& expected = GetParam();
  Form1 form;
  ShowAndWait(form);
  const QWidget* control = Control(form, expected.name);
  ASSERT_NE(control, nullptr);
  EXPECT_STREQ(control->metaObject()->className(), QtClassOf(expected.kind));
  if (expected.text.empty()) {
    EXPECT_FALSE(TextOf(control).isEmpty());
  } else {
    EXPECT_EQ(TextOf(control).toStdU16String(), expected.text);
  }
  EXPECT_EQ(PixelsOf(control->geometry()), expected.rect);
}

INSTANTIATE_TEST_SUITE_P(Controls, Form1Description, ::testing::ValuesIn(kExpectedControls),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(Form1, HasTheCaptionIconAndClientArea) {
  Form1 form;
  ShowAndWait(form);
  EXPECT_EQ(form.windowTitle(), "Vendrake");
  for (const int size : {16, 32, 48, 256}) {
    EXPECT_EQ(form.windowIcon().pixmap(QSize(size, size), 1.0).size(), QSize(size, size)) << size;
  }
  EXPECT_EQ(form.width(), kExpectedClientWidth);
  EXPECT_EQ(form.height(), kExpectedClientHeight);
}

TEST(Form1, FocusStartsOnTheButtonAndTabCyclesPastTheLabels) {
  Form1 form;
  ShowAndWait(form);
  form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  ASSERT_NE(QApplication::focusWidget(), nullptr);
  std::vector<QString> focus{QApplication::focusWidget()->objectName()};
  for (int press = 0; press < 4; ++press) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    focus.push_back(QApplication::focusWidget()->objectName());
  }
  EXPECT_THAT(focus, ElementsAre("Command1", "Text1", "Text2", "Text3", "Command1"));
}

TEST(Form1, LabelsLieBeneathTheBoxesAndTheButton) {
  Form1 form;
  // Children are listed bottom to top.
  std::vector<bool> is_label;
  for (const QObject* child : form.children()) {
    if (child->isWidgetType()) is_label.push_back(qobject_cast<const QLabel*>(child) != nullptr);
  }
  EXPECT_THAT(is_label, ElementsAre(true, true, true, true, false, false, false, false));
}

TEST(Form1, EnterInATextBoxStartsNoRun) {
  Form1 form;
  int messages = 0;
  form.SetMessagePresenter([&messages](QWidget*, const QString&, const QString&) { ++messages; });
  ShowAndWait(form);
  // Too short a source: a run, if one started, would stop at once with a message.
  TextBox(form, "Text2")->setText("C:");
  EXPECT_FALSE(Command1(form)->isDefault());
  EXPECT_FALSE(Command1(form)->autoDefault());
  for (const char* name : {"Text1", "Text2", "Text3"}) {
    QTest::keyClick(TextBox(form, name), Qt::Key_Return);
    QTest::keyClick(TextBox(form, name), Qt::Key_Enter);
  }
  EXPECT_EQ(messages, 0);
}

TEST(Form1, EnterPressesTheFocusedButtonOnItsPressNotItsRelease) {
  Form1 form;
  int messages = 0;
  form.SetMessagePresenter([&messages](QWidget*, const QString&, const QString&) { ++messages; });
  ShowAndWait(form);
  form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  // Too short a source: each run stops at once with a message.
  TextBox(form, "Text2")->setText("C:");
  ASSERT_EQ(QApplication::focusWidget(), Command1(form));
  // The release of the Enter that closed the last message lands on the button.
  QTest::keyRelease(QApplication::focusWidget(), Qt::Key_Return);
  EXPECT_EQ(messages, 0) << "a lone release started a run";
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_EQ(messages, 2);
}

// Measured on the widgets as drawn, against whatever box or button lies over
// each label, rather than from the window description.
TEST(Form1, EveryCaptionShowsWholeBesideTheBoxes) {
  Form1 form;
  ShowAndWait(form);
  const QList<QLabel*> labels = form.findChildren<QLabel*>();
  ASSERT_EQ(labels.size(), 4);
  for (const QLabel* label : labels) {
    SCOPED_TRACE(label->objectName().toStdString());
    int room = label->width();
    for (const QWidget* control : form.findChildren<QWidget*>()) {
      if (qobject_cast<const QLabel*>(control) != nullptr) continue;
      if (control->geometry().intersects(label->geometry())) {
        room = std::min(room, control->x() - label->x());
      }
    }
    const QFontMetrics metrics = label->fontMetrics();
    EXPECT_LE(metrics.horizontalAdvance(label->text()), room);
    EXPECT_LE(metrics.height(), label->height());
  }
}

class Form1Resize : public ::testing::TestWithParam<ExpectedFit> {};

TEST_P(Form1Resize, FitsThePathBoxesAndCreditLineAndMovesNothingElse) {
  const ExpectedFit& fit = GetParam();
  Form1 form;
  ShowAndWait(form);
  ResizeClientTo(form, fit.client_width);
  EXPECT_EQ(Control(form, "Text2")->geometry(), QRect(72, 8, fit.path_box_width, 25));
  EXPECT_EQ(Control(form, "Text3")->geometry(), QRect(72, 40, fit.path_box_width, 25));
  EXPECT_EQ(Control(form, "Label4")->geometry(), QRect(fit.credit_left, 80, 161, 17));
  EXPECT_EQ(Control(form, "Command1")->geometry(), QRect(136, 72, 89, 25));
  EXPECT_EQ(Control(form, "Text1")->geometry(), QRect(72, 72, 57, 25));
}

INSTANTIATE_TEST_SUITE_P(ClientWidths, Form1Resize, ::testing::ValuesIn(kExpectedFits));

// Runs on real folders. The presenter notes the button as it is while each
// message is up, and paints of the button are watched as they happen, since
// nothing else can observe the window in the middle of a click.
class Form1Run : public ::testing::Test {
 protected:
  struct Shown {
    QString text;
    bool button_enabled;
    QString caption;
    bool working_painted;  // "Working..." was painted before the message
    QString details;
  };

  void SetUp() override {
    form_.SetMessagePresenter([this](QWidget* parent, const QString& text, const QString& details) {
      EXPECT_EQ(parent, &form_);
      shown_.push_back({text, Command1(form_)->isEnabled(), Command1(form_)->text(),
                        painted_.contains("Working..."), details});
    });
    paint_watch_.on_paint = [this] { painted_.append(Command1(form_)->text()); };
    Command1(form_)->installEventFilter(&paint_watch_);
    ShowAndWait(form_);
    fs::create_directory(source_);
  }

  // Clicks the button and waits for the message that ends the run.
  void Click() {
    const std::size_t before = shown_.size();
    QTest::mouseClick(Command1(form_), Qt::LeftButton);
    WaitForMessage(before);
  }

  void WaitForMessage(std::size_t shown_before) {
    EXPECT_TRUE(QTest::qWaitFor([&] { return shown_.size() > shown_before; }, 20'000));
  }

  class PaintWatch : public QObject {
   public:
    std::function<void()> on_paint;
    bool eventFilter(QObject*, QEvent* event) override {
      if (event->type() == QEvent::Paint && on_paint) on_paint();
      return false;
    }
  };

  testing::TemporaryFolder folder_;
  const fs::path source_ = folder_.Path() / "CliffNatural0";
  const fs::path destination_ = folder_.Path() / "CliffNatural0_2x";
  PaintWatch paint_watch_;
  Form1 form_;
  QStringList painted_;
  std::vector<Shown> shown_;
};

TEST_F(Form1Run, ClickScalesTheFolderNormalisesTheBoxesInPlaceAndShowsTheSummary) {
  // Three files, one of them without "_" in its name, so it cannot be named.
  const tools::ModelShape first{.vertex_count = 40, .face_count = 60, .seed = 7};
  const tools::ModelShape second{.vertex_count = 90, .face_count = 135, .seed = 8};
  testing::WriteFile(source_ / "CliffNatural0_A1", tools::MakeModel(first));
  testing::WriteFile(source_ / "CliffNatural0_B2", tools::MakeModel(second));
  testing::WriteFile(source_ / "NoUnderscore", tools::MakeModel(first));
  TextBox(form_, "Text2")->setText(QString::fromStdString(source_.string()));
  TextBox(form_, "Text3")->setText(QString::fromStdString(destination_.string() + "\\"));
  TextBox(form_, "Text1")->setText(" 2 ");

  Click();

  ASSERT_EQ(shown_.size(), 1U);
  EXPECT_EQ(shown_[0].text, "Attempted model scales: 3. Success count: 2.");
  EXPECT_TRUE(shown_[0].button_enabled);
  EXPECT_EQ(shown_[0].caption, "Scale");
  // POSIX paths stay as typed, with the final separator added; a typed "\\"
  // is read as a separator too.
  EXPECT_EQ(form_.SourceText(), testing::Utf16Text(source_) + u"/");
  EXPECT_EQ(form_.DestinationText(), testing::Utf16Text(destination_) + u"/");
  EXPECT_EQ(form_.ScaleText(), u" 2 ");
  EXPECT_EQ(testing::ReadFile(destination_ / "CliffNatural0_2x_A1"),
            testing::ScaledModel(first, 2.0F));
  EXPECT_EQ(testing::ReadFile(destination_ / "CliffNatural0_2x_B2"),
            testing::ScaledModel(second, 2.0F));
  EXPECT_EQ(std::distance(fs::directory_iterator(destination_), fs::directory_iterator()), 2);
}

// A folder dropped from a file manager fills the box it lands on; a file
// gives its folder. Nothing runs until the button is pressed.
TEST_F(Form1Run, AFolderDroppedOnABoxPutsItsPathThere) {
  testing::WriteFile(source_ / "CliffNatural0_A1", tools::MakeModel({}));
  const auto drop = [](QLineEdit* box, const fs::path& item) {
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(item.string()))});
    QDragEnterEvent enter(QPoint(2, 2), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(box, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent dropped(QPointF(2, 2), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(box, &dropped);
    EXPECT_TRUE(dropped.isAccepted());
  };

  drop(TextBox(form_, "Text2"), source_);
  drop(TextBox(form_, "Text3"), source_ / "CliffNatural0_A1");

  EXPECT_EQ(form_.SourceText(), source_.u16string());
  EXPECT_EQ(form_.DestinationText(), source_.u16string());
  EXPECT_TRUE(shown_.empty());
  EXPECT_EQ(testing::NamesIn(source_), (std::vector<std::string>{"CliffNatural0_A1"}));
}

TEST_F(Form1Run, WorkingIsPaintedAndTheButtonLockedUntilTheMessageIsRead) {
  TextBox(form_, "Text2")->setText(QString::fromStdU16String(testing::FolderText(source_)));
  TextBox(form_, "Text3")->setText(QString::fromStdU16String(testing::FolderText(destination_)));

  Click();

  ASSERT_EQ(shown_.size(), 1U);
  EXPECT_EQ(shown_[0].text, "The source path does not exist.");
  EXPECT_FALSE(shown_[0].button_enabled);
  EXPECT_EQ(shown_[0].caption, "Working...");
  // No event is processed during a run, so only an immediate paint shows it.
  EXPECT_TRUE(shown_[0].working_painted);
  EXPECT_TRUE(Command1(form_)->isEnabled());
  EXPECT_EQ(Command1(form_)->text(), "Scale");
}

enum class RunEnd { kInputRejected, kSourceEmpty, kFinished };

struct RunEndCase {
  const char* name;
  RunEnd end;
  const char* message;
};

void PrintTo(const RunEndCase& c, std::ostream* out) { *out << c.name; }

class Form1RunEnd : public Form1Run, public ::testing::WithParamInterface<RunEndCase> {};

// Disabling the button for the run hands the focus on to Text1, which selects
// its text on the way in; a second Space there would replace the scale.
TEST_P(Form1RunEnd, FocusGoesBackToTheButtonSoASecondSpaceRunsAgain) {
  const RunEndCase& c = GetParam();
  if (c.end == RunEnd::kFinished) {
    testing::WriteFile(source_ / "CliffNatural0_A1", tools::MakeModel({}));
  }
  TextBox(form_, "Text2")
      ->setText(c.end == RunEnd::kInputRejected
                    ? QStringLiteral("C:")
                    : QString::fromStdU16String(testing::FolderText(source_)));
  TextBox(form_, "Text3")->setText(QString::fromStdU16String(testing::FolderText(destination_)));
  form_.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form_));
  ASSERT_EQ(QApplication::focusWidget(), Command1(form_));

  for (int press = 0; press < 2; ++press) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    WaitForMessage(static_cast<std::size_t>(press));
    EXPECT_EQ(QApplication::focusWidget(), Command1(form_)) << "after run " << press + 1;
  }

  EXPECT_EQ(form_.ScaleText(), u"2.0");
  EXPECT_FALSE(TextBox(form_, "Text1")->hasSelectedText());
  ASSERT_EQ(shown_.size(), 2U);
  EXPECT_EQ(shown_[1].text, c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Ends, Form1RunEnd,
    ::testing::Values(
        RunEndCase{"InputRejected", RunEnd::kInputRejected, "Source must be a valid path name."},
        RunEndCase{"SourceEmpty", RunEnd::kSourceEmpty, "The source path does not exist."},
        RunEndCase{"Finished", RunEnd::kFinished, "Attempted model scales: 1. Success count: 1."}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(Form1MessageBox, IsModalTitledVendrakeWithOneOkButtonAndNoIcon) {
  Form1 form;
  ShowAndWait(form);
  TextBox(form, "Text2")->setText("C:");
  struct {
    bool seen = false;
    bool modal = false;
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::Information;
    QList<QMessageBox::StandardButton> buttons;
  } box_seen;
  // The box blocks in its own event loop; the timer fires inside it.
  QTimer closer;
  closer.setInterval(10);
  closer.callOnTimeout([&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr) return;
    closer.stop();
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      box_seen = {true, box->isModal(), box->windowTitle(), box->text(), box->icon(), {}};
      for (QAbstractButton* button : box->buttons())
        box_seen.buttons.append(box->standardButton(button));
      box->done(QMessageBox::Ok);
    } else {
      modal->close();
    }
  });
  closer.start();

  QTest::mouseClick(Command1(form), Qt::LeftButton);

  ASSERT_TRUE(box_seen.seen);
  EXPECT_TRUE(box_seen.modal);
  EXPECT_EQ(box_seen.title, "Vendrake");
  EXPECT_EQ(box_seen.text, "Source must be a valid path name.");
  EXPECT_EQ(box_seen.icon, QMessageBox::NoIcon);
  EXPECT_THAT(box_seen.buttons, ElementsAre(QMessageBox::Ok));
  EXPECT_EQ(Command1(form)->text(), "Scale");
}

}  // namespace
}  // namespace vendrake::window
