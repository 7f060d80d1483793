#include "window/form1.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QUrl>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/scaled_model.h"
#include "tests/support/temporary_folder.h"
#include "tests/window/form1_controls.h"
#include "tools/synthetic_model.h"

namespace vendrake::window {
namespace {

namespace fs = std::filesystem;

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

}  // namespace
}  // namespace vendrake::window
