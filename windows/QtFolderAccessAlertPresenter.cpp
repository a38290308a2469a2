#include "windows/QtFolderAccessAlertPresenter.hpp"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>

namespace brindleaf {

void QtFolderAccessAlertPresenter::showAlert(const std::string& title, const std::string& text) {
    QMessageBox box(QApplication::activeWindow());
    box.setIcon(QMessageBox::Warning);
    box.setTextFormat(Qt::PlainText);
    box.setWindowTitle(QString::fromStdString(title));
    box.setText(QString::fromStdString(title));
    box.setInformativeText(QString::fromStdString(text));
    // The informative text has its own label, which would guess rich text.
    if (auto* informative = box.findChild<QLabel*>("qt_msgbox_informativelabel")) {
        informative->setTextFormat(Qt::PlainText);
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.setDefaultButton(QMessageBox::Ok);
    box.exec();
}

} // namespace brindleaf
