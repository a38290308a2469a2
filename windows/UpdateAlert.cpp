#include "windows/UpdateAlert.hpp"

#include "windows/PlainMessageBox.hpp"

#include <memory>

namespace brindleaf {

void UpdateAlert::showAlert(const std::string& title, const std::string& message) {
    std::unique_ptr<QMessageBox> box(makePlainMessageBox(QMessageBox::Warning, title, message));
    box->setObjectName("updateAlert");
    box->raise();
    box->activateWindow();
    box->exec();
}

} // namespace brindleaf
