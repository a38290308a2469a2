#include "windows/DiagnosticsPaneContent.hpp"

#include "presentation/StatusDashboardModel.hpp"
#include "services/StaleSessionBaselines.hpp"

namespace brindleaf::DiagnosticsPaneContent {

namespace {

// The provider's displayed errors, none while its folders cannot be read or without a snapshot.
std::vector<std::string> shownErrors(const StatusDashboardModel& model, const ProviderDescriptor& provider) {
    if (!model.folderAccess().hasAccess(provider.id)) return {};
    std::optional<ProviderSnapshot> snapshot = model.providerSnapshot(provider);
    if (!snapshot) return {};
    return snapshot->errors;
}

} // namespace

std::string hiddenStaleCountText(const StatusDashboardModel& model, const ProviderDescriptor& provider) {
    std::optional<ProviderSnapshot> snapshot = model.providerSnapshot(provider);
    if (!snapshot) return "0";
    return std::to_string(hiddenStaleCountForProvider(snapshot->providerName, snapshot->ignoredStaleSessions,
                                                      model.clearedStaleBaselines()));
}

std::vector<ErrorItem> errorItems(const StatusDashboardModel& model) {
    std::vector<ErrorItem> items;
    for (const ProviderDescriptor& provider : model.visibleProviders()) {
        const std::vector<std::string> errors = shownErrors(model, provider);
        for (std::size_t i = 0; i < errors.size(); ++i) {
            items.push_back({provider.id + "-" + std::to_string(i) + "-" + errors[i], provider.displayName, errors[i],
                             model.settings().isErrorAcknowledged(provider.displayName, errors[i])});
        }
    }
    return items;
}

Shown shown(const StatusDashboardModel& model) {
    Shown result;
    for (const ProviderDescriptor& provider : model.visibleProviders()) {
        result.staleRows.push_back({provider.id, provider.displayName, hiddenStaleCountText(model, provider)});
    }
    result.canResetCount = model.hiddenStaleCount() != 0;
    result.errors = errorItems(model);
    for (const ErrorItem& item : result.errors) result.canMarkAllAsRead = result.canMarkAllAsRead || !item.isRead;
    result.isShowingSampleData = model.settings().isShowingSampleData();
    return result;
}

void markAllAsRead(const StatusDashboardModel& model) {
    for (const ProviderDescriptor& provider : model.visibleProviders()) {
        model.settings().acknowledgeErrors(provider.displayName, shownErrors(model, provider));
    }
}

} // namespace brindleaf::DiagnosticsPaneContent
