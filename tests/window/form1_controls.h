#pragma once

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QSize>
#include <QString>
#include <QTest>
#include <ostream>

#include "window/form1.h"

// Readable failure messages for texts and sizes.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QSize& size, std::ostream* out) {
  *out << size.width() << 'x' << size.height();
}

// Form1's controls, found by their names, and the window shown.
namespace vendrake::window {

inline QPushButton* Command1(const Form1& form) { return form.findChild<QPushButton*>("Command1"); }
inline QLineEdit* TextBox(const Form1& form, const char* name) {
  return form.findChild<QLineEdit*>(QString::fromLatin1(name));
}

inline void ShowAndWait(Form1& form) {
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
}

}  // namespace vendrake::window
