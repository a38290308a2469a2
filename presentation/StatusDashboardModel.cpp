#include "presentation/StatusDashboardModel.hpp"

#include "presentation/SampleStatusSnapshot.hpp"

#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <limits>

namespace brindleaf {

namespace {

// Whole texts equal ignoring letter case.
bool sameNameIgnoringCase(std::string_view a, std::string_view b) {
    bool ascii = true;
    for (unsigned char c : a)
        if (c >= 0x80) ascii = false;
    for (unsigned char c : b)
        if (c >= 0x80) ascii = false;
    if (ascii) {
        if (a.size() != b.size()) return false;
        for (std::size_t i = 0; i < a.size(); ++i) {
            auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
            if (lower(a[i]) != lower(b[i])) return false;
        }
        return true;
    }
    auto ua = icu::UnicodeString::fromUTF8(icu::StringPiece(a.data(), static_cast<int32_t>(a.size())));
    auto ub = icu::UnicodeString::fromUTF8(icu::StringPiece(b.data(), static_cast<int32_t>(b.size())));
    return ua.caseCompare(ub, U_FOLD_CASE_DEFAULT) == 0;
}

} // namespace

StatusDashboardModel::StatusDashboardModel(MainQueue& mainQueue, AgentStatusSnapshot snapshot,
                                           std::shared_ptr<ProviderSettingsStore> settings,
                                           std::shared_ptr<FolderAccessQuery> folderAccess,
                                           ClearedStaleBaselines clearedStaleBaselines,
                                           std::vector<ProviderDescriptor> providers)
    : mainQueue_(mainQueue),
      snapshot_(std::move(snapshot)),
      clearedStaleBaselines_(std::move(clearedStaleBaselines)),
      providers_(std::move(providers)),
      settings_(std::move(settings)),
      folderAccess_(std::move(folderAccess)),
      self_(std::make_shared<StatusDashboardModel*>(this)) {
    settingsObserver_ = settings_->addObserver([this](ProviderSettingsStore::Property property) {
        if (property == ProviderSettingsStore::Property::isShowingSampleData ||
            property == ProviderSettingsStore::Property::enabledProviderIDs)
            publish(Property::displayedSettings);
    });
}

StatusDashboardModel::~StatusDashboardModel() { settings_->removeObserver(settingsObserver_); }

void StatusDashboardModel::setSnapshot(AgentStatusSnapshot snapshot) {
    snapshot_ = std::move(snapshot);
    publish(Property::snapshot);
}

const AgentStatusSnapshot& StatusDashboardModel::displaySnapshot() const {
    if (!settings_->isShowingSampleData()) return snapshot_;
    if (!sample_ || sampleAnchor_ != snapshot_.checkedAt) {
        sample_ = makeSampleStatusSnapshot(snapshot_.checkedAt);
        sampleAnchor_ = snapshot_.checkedAt;
    }
    return *sample_;
}

StatusWording::Mood StatusDashboardModel::activityState() const { return StatusWording::mood(displaySnapshot()); }

std::vector<ProviderDescriptor> StatusDashboardModel::visibleProviders() const {
    std::vector<ProviderDescriptor> visible;
    const auto& enabled = settings_->enabledProviderIDs();
    for (const auto& provider : providers_)
        if (enabled.count(provider.id)) visible.push_back(provider);
    return visible;
}

std::optional<ProviderSnapshot> StatusDashboardModel::providerSnapshot(const ProviderDescriptor& provider) const {
    for (const auto& snapshot : displaySnapshot().providerSnapshots)
        if (sameNameIgnoringCase(snapshot.providerName, provider.displayName)) return snapshot;
    return std::nullopt;
}

std::int64_t StatusDashboardModel::activeSessionCount(const ProviderDescriptor& provider) const {
    const auto& sessions = displaySnapshot().activeSessions;
    return std::count_if(sessions.begin(), sessions.end(), [&](const AgentSession& session) {
        return sameNameIgnoringCase(session.provider, provider.displayName);
    });
}

bool StatusDashboardModel::needsAccess(const ProviderDescriptor& provider) const {
    if (settings_->isShowingSampleData()) return false;
    if (!folderAccess_->hasMissingFolders(provider.id)) return false;
    return !folderAccess_->hasAccess(provider.id);
}

std::int64_t StatusDashboardModel::hiddenStaleCount() const {
    std::int64_t total = 0;
    for (const auto& snapshot : displaySnapshot().providerSnapshots) {
        const auto hidden =
            hiddenStaleCountForProvider(snapshot.providerName, snapshot.ignoredStaleSessions, clearedStaleBaselines_);
        if (__builtin_add_overflow(total, hidden, &total)) return std::numeric_limits<std::int64_t>::max();
    }
    return total;
}

void StatusDashboardModel::clearStaleBaselines() {
    clearedStaleBaselines_ = baselinesAfterClearing(clearedStaleBaselines_, snapshot_.providerSnapshots);
    publish(Property::clearedStaleBaselines);
    if (const auto& defaults = settings_->defaults()) saveClearedStaleBaselines(*defaults, clearedStaleBaselines_);
    if (actions.onSignalHealthClear) actions.onSignalHealthClear();
}

std::int64_t StatusDashboardModel::beginManualRefresh() {
    ++refreshGeneration_;
    isRefreshing_ = true;
    publish(Property::isRefreshing);
    return refreshGeneration_;
}

void StatusDashboardModel::finishRefresh(std::int64_t generation) {
    if (generation != refreshGeneration_) return;
    std::weak_ptr<StatusDashboardModel*> weak = self_;
    mainQueue_.postAfter(spinnerLinger, [weak, generation] {
        auto self = weak.lock();
        if (!self) return;
        StatusDashboardModel& model = **self;
        if (model.refreshGeneration_ != generation || !model.isRefreshing_) return;
        model.isRefreshing_ = false;
        model.publish(Property::isRefreshing);
    });
}

StatusDashboardModel::ObserverID StatusDashboardModel::addObserver(Observer observer) {
    const ObserverID id = nextObserverID_++;
    observers_.emplace(id, std::move(observer));
    return id;
}

void StatusDashboardModel::removeObserver(ObserverID id) { observers_.erase(id); }

void StatusDashboardModel::publish(Property property) {
    std::weak_ptr<StatusDashboardModel*> weak = self_;
    mainQueue_.post([weak, property] {
        auto self = weak.lock();
        if (!self) return;
        // A copy, so an observer may add or remove observers.
        auto observers = (**self).observers_;
        for (const auto& [id, observer] : observers) {
            auto alive = weak.lock();
            if (!alive || !(**alive).observers_.count(id)) continue;
            observer(property);
        }
    });
}

} // namespace brindleaf
