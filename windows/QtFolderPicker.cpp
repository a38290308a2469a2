#include "windows/QtFolderPicker.hpp"

#include <QApplication>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>

namespace brindleaf {

std::optional<std::string> QtFolderPicker::chooseFolder(const Request& request) {
    QFileDialog dialog(QApplication::activeWindow());
    // Qt's own dialog, so that the explanation can sit inside it.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, !request.canChooseFiles);
    dialog.setOption(QFileDialog::ReadOnly, !request.canCreateFolders);
    QDir::Filters filters = QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives;
    if (request.showsHiddenFiles) filters |= QDir::Hidden;
    dialog.setFilter(filters);
    dialog.setDirectory(QString::fromStdString(request.startingFolder));
    dialog.setLabelText(QFileDialog::Accept, QString::fromStdString(request.prompt));
    dialog.setWindowTitle(QString::fromStdString(request.prompt));
    if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout())) {
        auto* message = new QLabel(&dialog);
        message->setObjectName("folderPickerMessage");
        message->setTextFormat(Qt::PlainText);
        message->setWordWrap(true);
        message->setText(QString::fromStdString(request.message));
        grid->addWidget(message, grid->rowCount(), 0, 1, grid->columnCount());
    }
    dialog.raise();
    dialog.activateWindow();
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) return std::nullopt;
    return chosen.front().toStdString();
}

} // namespace brindleaf
