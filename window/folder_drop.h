#pragma once

#include <QObject>

class QEvent;

namespace vendrake::window {

// Lets a folder dragged from a file manager fill the text box it is dropped
// on: the box takes the folder's path, in the system's own form, or for a
// file, the path of the folder holding it. Nothing else happens: the run
// starts only with the button. Installed as an event filter on each box.
class FolderDrop : public QObject {
  Q_OBJECT

 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace vendrake::window
