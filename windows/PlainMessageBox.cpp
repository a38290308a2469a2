#include "windows/PlainMessageBox.hpp"

#include <QLabel>

namespace brindleaf {

QMessageBox* makePlainMessageBox(QMessageBox::Icon icon, const std::string& title, const std::string& message,
                                 QWidget* parent) {
    auto* box = new QMessageBox(icon, QString::fromStdString(title), QString(), QMessageBox::Ok, parent);
    box->setTextFormat(Qt::PlainText);
    box->setText(QString::fromStdString(title));
    box->setInformativeText(QString::fromStdString(message));
    // QMessageBox guesses the informative text's format; this one is plain.
    for (auto* label : box->findChildren<QLabel*>()) {
        label->setTextFormat(Qt::PlainText);
        // The title line stands out, as in the system's own alerts.
        if (label->text() == box->text()) {
            QFont font = label->font();
            font.setBold(true);
            label->setFont(font);
        }
    }
    return box;
}

} // namespace brindleaf
