#pragma once

#include <QString>

namespace brindleaf {

// A tooltip that shows the text exactly as written: Qt takes a tooltip that
// looks like markup as rich text, so text from the agents' files is escaped
// and wrapped (line breaks kept) before it is set.
QString plainToolTip(const QString& text);

} // namespace brindleaf
