// Writes a picture drawn by the real widgets: vendrake-grab-window <file.png>
// draws the main window as it first appears; vendrake-grab-window --details
// <file.png> draws the summary box of a run over a folder in memory where
// three files fail, with its details shown. Runs without a display when
// QT_QPA_PLATFORM=offscreen; QT_SCALE_FACTOR=2 draws as on a screen of twice
// the usual density.
#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "command/defaults.h"
#include "engine/memory/memory_file_system.h"
#include "tools/synthetic_model.h"
#include "window/form1.h"
#include "window/message_box.h"

namespace {

bool Save(QWidget& widget, const char* path) {
  if (widget.grab().save(QString::fromLocal8Bit(path), "PNG")) return true;
  std::fprintf(stderr, "cannot write %s\n", path);
  return false;
}

// The default folders, holding one model that scales and three that do not.
std::unique_ptr<vendrake::engine::FileSystem> FolderWithFailures() {
  auto files = std::make_unique<vendrake::engine::MemoryFileSystem>();
  const std::u16string source = vendrake::command::kDefaultSourceText;
  files->AddFile(source + u"\\CliffNatural0_A1",
                 vendrake::tools::MakeModel({.vertex_count = 40, .face_count = 60}));
  files->AddFile(source + u"\\CliffNatural0_B2", {1, 2, 3});
  files->AddFile(source + u"\\CliffNatural0_C3", std::vector<std::uint8_t>(140000));
  files->AddFile(source + u"\\readme.txt",
                 vendrake::tools::MakeModel({.vertex_count = 4, .face_count = 6}));
  return files;
}

int GrabDetails(const char* path) {
  vendrake::window::Form1 form(nullptr, FolderWithFailures());
  int status = 1;
  form.SetMessagePresenter([&](QWidget* parent, const QString& text, const QString& details) {
    std::unique_ptr<QMessageBox> box = vendrake::window::MakeMessageBox(parent, text, details);
    box->show();
    for (QAbstractButton* button : box->buttons()) {
      if (box->buttonRole(button) == QMessageBox::ActionRole) button->click();  // "Show Details..."
    }
    QApplication::processEvents();
    box->adjustSize();
    QApplication::processEvents();
    status = Save(*box, path) ? 0 : 1;
    QApplication::exit(status);
  });
  form.show();
  form.findChild<QPushButton*>(QStringLiteral("Command1"))->click();
  return QApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc == 3 && std::strcmp(argv[1], "--details") == 0) return GrabDetails(argv[2]);
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s [--details] <file.png>\n", argv[0]);
    return 2;
  }
  vendrake::window::Form1 form;
  form.show();
  QApplication::processEvents();
  return Save(form, argv[1]) ? 0 : 1;
}
