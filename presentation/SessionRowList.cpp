#include "presentation/SessionRowList.hpp"

#include "presentation/SessionRowView.hpp"

#include <QVBoxLayout>

#include <algorithm>
#include <map>

namespace brindleaf {

SessionRowList::SessionRowList(QVBoxLayout* layout, QWidget* parent, const SessionRowActions& actions)
    : layout_(layout), parent_(parent), actions_(std::make_unique<SessionRowActions>(actions)) {}

SessionRowList::~SessionRowList() = default;

void SessionRowList::apply(const std::vector<AgentSession>& sessions, std::size_t limit, Date now) {
    const std::size_t count = std::min(sessions.size(), limit);
    std::map<std::string, SessionRowView*> old;
    for (auto& [key, row] : rows_) old.emplace(key, row);
    std::vector<std::pair<std::string, SessionRowView*>> next;
    next.reserve(count);
    std::map<std::string, int> seen;
    for (std::size_t i = 0; i < count; ++i) {
        const AgentSession& session = sessions[i];
        const int occurrence = seen[session.id]++;
        std::string key = session.id;
        if (occurrence) key += '\n' + std::to_string(occurrence);
        const SessionRowContent content = SessionRowContent::make(session, now);
        SessionRowView* row = nullptr;
        if (auto found = old.find(key); found != old.end()) {
            row = found->second;
            old.erase(found);
            row->setContent(content);
        } else {
            row = new SessionRowView(content, parent_, *actions_);
        }
        next.emplace_back(std::move(key), row);
    }
    for (auto& [key, row] : old) {
        layout_->removeWidget(row);
        row->retire();
    }
    // The kept and new cards in the snapshot's order.
    for (std::size_t i = 0; i < next.size(); ++i) {
        SessionRowView* row = next[i].second;
        if (layout_->indexOf(row) != int(i)) {
            layout_->removeWidget(row);
            layout_->insertWidget(int(i), row);
        }
        if (row->isHidden()) row->show();
    }
    rows_ = std::move(next);
}

std::vector<SessionRowView*> SessionRowList::rows() const {
    std::vector<SessionRowView*> result;
    result.reserve(rows_.size());
    for (const auto& [key, row] : rows_) result.push_back(row);
    return result;
}

} // namespace brindleaf
