#include "app/shell/StatusNotifierItemAdaptor.hpp"

#include "app/shell/StatusNotifierItem.hpp"

namespace brindleaf {

StatusNotifierItemAdaptor::StatusNotifierItemAdaptor(StatusNotifierItem& item)
    : QDBusAbstractAdaptor(&item), item_(item) {}

QString StatusNotifierItemAdaptor::id() const { return StatusNotifierItem::productName; }
QString StatusNotifierItemAdaptor::title() const { return StatusNotifierItem::productName; }
StatusNotifierPixmaps StatusNotifierItemAdaptor::iconPixmap() const {
    item_.noteHostRead();
    return item_.iconPixmaps();
}
StatusNotifierToolTip StatusNotifierItemAdaptor::toolTip() const {
    item_.noteHostRead();
    return item_.toolTipValue();
}

void StatusNotifierItemAdaptor::ContextMenu(int x, int y) { item_.activate(x, y); }
void StatusNotifierItemAdaptor::Activate(int x, int y) { item_.activate(x, y); }
void StatusNotifierItemAdaptor::SecondaryActivate(int x, int y) { item_.activate(x, y); }
void StatusNotifierItemAdaptor::Scroll(int, const QString&) {}

} // namespace brindleaf
