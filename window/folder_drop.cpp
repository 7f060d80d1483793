#include "window/folder_drop.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLineEdit>
#include <QMimeData>
#include <QUrl>

namespace vendrake::window {
namespace {

// The folder a drag names: its first item's, when that is on this machine.
// Empty for text, links to web pages and the like, which the box takes as
// it always has.
QString DroppedFolder(const QMimeData* data) {
  if (data == nullptr || !data->hasUrls() || data->urls().isEmpty()) return {};
  const QUrl url = data->urls().first();
  if (!url.isLocalFile()) return {};
  const QFileInfo item(url.toLocalFile());
  return QDir::toNativeSeparators(item.isDir() ? item.absoluteFilePath() : item.absolutePath());
}

}  // namespace

bool FolderDrop::eventFilter(QObject* watched, QEvent* event) {
  auto* box = qobject_cast<QLineEdit*>(watched);
  if (box == nullptr || !box->isEnabled()) return false;
  switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto* drag = static_cast<QDragMoveEvent*>(event);
      if (DroppedFolder(drag->mimeData()).isEmpty()) return false;
      drag->acceptProposedAction();
      return true;
    }
    case QEvent::Drop: {
      auto* drop = static_cast<QDropEvent*>(event);
      const QString folder = DroppedFolder(drop->mimeData());
      if (folder.isEmpty()) return false;
      box->setText(folder);
      drop->acceptProposedAction();
      return true;
    }
    default:
      return false;
  }
}

}  // namespace vendrake::window
