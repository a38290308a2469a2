#pragma once

#include <QMessageBox>

#include <string>

namespace brindleaf {

// A message box with an OK button whose title line and message are both
// shown as plain text, never as rich text.
QMessageBox* makePlainMessageBox(QMessageBox::Icon icon, const std::string& title, const std::string& message,
                                 QWidget* parent = nullptr);

} // namespace brindleaf
