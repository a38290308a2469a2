#include "presentation/PlainToolTip.hpp"

#include <QTextDocument>

namespace brindleaf {

QString plainToolTip(const QString& text) {
    if (text.isEmpty()) return {};
    return Qt::convertFromPlainText(text, Qt::WhiteSpaceNormal);
}

} // namespace brindleaf
