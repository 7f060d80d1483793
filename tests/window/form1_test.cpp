#include "window/form1.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSize>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <string>
#include <vector>

#include "tests/window/expected_layout.h"
#include "tests/window/form1_controls.h"

namespace vendrake::window {
namespace {

using ::testing::ElementsAre;

QWidget* Control(const Form1& form, const char* name) {
  return form.findChild<QWidget*>(QString::fromLatin1(name));
}

QString TextOf(const QWidget* control) {
  if (const auto* button = qobject_cast<const QPushButton*>(control)) return button->text();
  if (const auto* box = qobject_cast<const QLineEdit*>(control)) return box->text();
  if (const auto* label = qobject_cast<const QLabel*>(control)) return label->text();
  return {};
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
