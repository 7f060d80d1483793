#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/platform/platform_file_system.h"
#include "tests/support/failure_folder.h"
#include "tests/support/hooked_file_system.h"
#include "tests/support/scaled_model.h"
#include "tests/support/temporary_folder.h"
#include "tools/synthetic_model.h"
#include "window/form1.h"
#include "window/message_box.h"
#include "window/pixel_layout.h"
#include "window/window_description.h"

namespace vendrake::window {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::UnorderedElementsAreArray;
using Operation = testing::HookedFileSystem::Operation;

constexpr int kPatienceMs = 20'000;

QPushButton* Command1(const Form1& form) { return form.findChild<QPushButton*>("Command1"); }
QLineEdit* TextBox(const Form1& form, const char* name) {
  return form.findChild<QLineEdit*>(QString::fromLatin1(name));
}

class PaintCount : public QObject {
 public:
  int count = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++count;
    return false;
  }
};

// A window over real folders whose file system can hold the run up at any
// file, through hooks the test sets before the click.
class Form1Worker : public ::testing::Test {
 protected:
  void SetUp() override {
    auto hooked = std::make_unique<testing::HookedFileSystem>(*platform_);
    hooks_ = hooked.get();
    form_ = std::make_unique<Form1>(nullptr, std::move(hooked));
    form_->SetMessagePresenter([this](QWidget*, const QString& text, const QString& details) {
      shown_.push_back(text);
      details_.push_back(details);
    });
    form_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
    fs::create_directory(source_);
    TextBox(*form_, "Text2")->setText(QString::fromStdU16String(testing::FolderText(source_)));
    TextBox(*form_, "Text3")->setText(QString::fromStdU16String(testing::FolderText(destination_)));
  }

  // Holds the run up for `pause` just before `name` is read, once.
  void SlowDown(const char* name, std::chrono::milliseconds pause) {
    hooks_->Before(Operation::kRead, QString::fromLatin1(name).toStdU16String(), [this, pause] {
      reading_.store(true);
      std::this_thread::sleep_for(pause);
    });
  }

  void WriteModels(std::initializer_list<const char*> names) {
    for (const char* name : names) testing::WriteFile(source_ / name, tools::MakeModel(kShape));
  }

  // Four models, each held up as it is read; listing order is the file
  // system's, so whichever comes first holds the run up.
  void WriteFourSlowModels() {
    for (const char* name :
         {"CliffNatural0_A1", "CliffNatural0_B2", "CliffNatural0_C3", "CliffNatural0_D4"}) {
      WriteModels({name});
      SlowDown(name, std::chrono::milliseconds(300));
    }
  }

  static constexpr tools::ModelShape kShape{.vertex_count = 40, .face_count = 60, .seed = 3};
  testing::TemporaryFolder folder_;
  const fs::path source_ = folder_.Path() / "CliffNatural0";
  const fs::path destination_ = folder_.Path() / "CliffNatural0_2x";
  std::unique_ptr<engine::FileSystem> platform_ = engine::MakePlatformFileSystem();
  testing::HookedFileSystem* hooks_ = nullptr;
  std::unique_ptr<Form1> form_;
  std::atomic<bool> reading_{false};
  std::vector<QString> shown_;
  std::vector<QString> details_;
};

// While the worker is held up, the window's own thread handles a resize
// (through the resize rule) and a repaint; every input stays locked, and the
// credit line counts the files done until the run ends.
TEST_F(Form1Worker, WindowResizesAndRepaintsWhileTheRunGoesOn) {
  WriteModels({"CliffNatural0_A1", "CliffNatural0_B2"});
  SlowDown("CliffNatural0_A1", std::chrono::milliseconds(1500));

  QTest::mouseClick(Command1(*form_), Qt::LeftButton);

  ASSERT_TRUE(form_->Running()) << "the click ran the batch to its end";
  ASSERT_TRUE(QTest::qWaitFor([this] { return reading_.load(); }, kPatienceMs));
  EXPECT_EQ(Command1(*form_)->text(), "Working...");
  EXPECT_FALSE(Command1(*form_)->isEnabled());
  for (const char* box : {"Text1", "Text2", "Text3"}) {
    EXPECT_FALSE(TextBox(*form_, box)->isEnabled()) << box;
  }
  PaintCount paints;
  TextBox(*form_, "Text2")->installEventFilter(&paints);
  const int width = form_->width() + 120;
  form_->resize(width, form_->height());
  ASSERT_TRUE(QTest::qWaitFor([&] { return form_->width() == width; }, 1000));
  EXPECT_EQ(TextBox(*form_, "Text2")->width(), FitToClientWidth(width).path_box_width);
  EXPECT_TRUE(QTest::qWaitFor([&] { return paints.count > 0; }, 1000)) << "not repainted";
  EXPECT_TRUE(form_->Running());
  EXPECT_TRUE(shown_.empty()) << "a message during the run";
  QLabel* credit = form_->findChild<QLabel*>("Label4");
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return QRegularExpression("^[01] of 2 models$").match(credit->text()).hasMatch(); },
      1000))
      << credit->text().toStdString();

  ASSERT_TRUE(QTest::qWaitFor([this] { return !shown_.empty(); }, kPatienceMs));
  EXPECT_THAT(shown_, ElementsAre("Attempted model scales: 2. Success count: 2."));
  EXPECT_THAT(details_, ElementsAre(""));
  EXPECT_TRUE(Command1(*form_)->isEnabled());
  EXPECT_EQ(Command1(*form_)->text(), "Scale");
  for (const char* box : {"Text1", "Text2", "Text3"})
    EXPECT_TRUE(TextBox(*form_, box)->isEnabled());
  EXPECT_EQ(credit->text().toStdU16String(), DescriptionOf("Label4").text);
}

// Closed while the first file is read: the window goes on answering while the
// run ends, that file is the last, and the window goes without a summary.
TEST_F(Form1Worker, ClosingDuringARunStopsItWholeAndTheWindowAnswersMeanwhile) {
  WriteFourSlowModels();

  QTest::mouseClick(Command1(*form_), Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([this] { return reading_.load(); }, kPatienceMs));
  form_->close();

  EXPECT_TRUE(form_->Running()) << "the window's thread waited for the run";
  ASSERT_TRUE(QTest::qWaitFor([this] { return !form_->isVisible(); }, kPatienceMs));
  EXPECT_FALSE(form_->Running()) << "the window closed with the run still going";
  QTest::qWait(100);
  EXPECT_TRUE(shown_.empty());
  testing::ExpectOnlyTheFileInHandWritten(destination_, kShape);
}

// The desktop session ends while the first file is read: by the time the
// application has heard that it is about to quit, the run has ended as a
// closed one does.
TEST_F(Form1Worker, SessionEndDuringARunEndsItWholeBeforeTheApplicationQuits) {
  WriteFourSlowModels();

  QTest::mouseClick(Command1(*form_), Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([this] { return reading_.load(); }, kPatienceMs));
  // As Qt does on Windows at WM_ENDSESSION: the signal alone, as the program
  // may be ended as soon as it returns.
  ASSERT_TRUE(
      QMetaObject::invokeMethod(QCoreApplication::instance(), "aboutToQuit", Qt::DirectConnection));

  EXPECT_FALSE(form_->Running()) << "the application goes on to quit with the run still going";
  testing::ExpectOnlyTheFileInHandWritten(destination_, kShape);
  QTest::qWait(100);
  EXPECT_TRUE(shown_.empty());
}

// One file for each way a file can fail; the real box is read back.
TEST_F(Form1Worker, SummaryBoxListsEachFailedFileWithItsReason) {
  form_->SetMessagePresenter(&ShowMessageBox);
  testing::WriteOneFileOfEachFailureKind(source_);
  QString text;
  QString details;
  QTimer closer;
  closer.setInterval(10);
  closer.callOnTimeout([&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    closer.stop();
    text = box->text();
    details = box->detailedText();
    box->done(QMessageBox::Ok);
  });
  closer.start();

  QTest::mouseClick(Command1(*form_), Qt::LeftButton);

  ASSERT_TRUE(QTest::qWaitFor([&] { return !text.isEmpty(); }, kPatienceMs));
  EXPECT_EQ(text, "Attempted model scales: 6. Success count: 1.");
  std::vector<std::u16string> lines;
  for (const QString& line : details.split('\n')) lines.push_back(line.toStdU16String());
  EXPECT_THAT(lines, UnorderedElementsAreArray(testing::DetailsOfEachFailureKind()));
}

TEST(Form1Accessibility, EachBoxIsNamedByItsLabelAndTheButtonByItsCaption) {
  Form1 form;
  const auto name_of = [&form](const char* control) {
    QWidget* widget = form.findChild<QWidget*>(QString::fromLatin1(control));
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
    return accessible == nullptr ? QStringLiteral("<none>") : accessible->text(QAccessible::Name);
  };
  EXPECT_EQ(name_of("Text1"), "Scale:");
  EXPECT_EQ(name_of("Text2"), "Source:");
  EXPECT_EQ(name_of("Text3"), "Destination:");
  EXPECT_EQ(name_of("Command1"), "Scale");
  EXPECT_EQ(form.findChild<QLabel*>("Label2")->buddy(), TextBox(form, "Text3"));
}

}  // namespace
}  // namespace vendrake::window
