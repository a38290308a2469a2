#include "platform/UserDefaults.hpp"
#include "services/ProviderSettingsStore.hpp"

#include <gtest/gtest.h>

#include <vector>

using namespace brindleaf;

// The General pane's three notification switches: their defaults, the keys
// they are stored under, what the next start reads, and one announcement per
// change.
TEST(NotificationSwitches, DefaultsKeysAndTheNextStart) {
    using Property = ProviderSettingsStore::Property;
    auto defaults = UserDefaults::inMemory("notification-switches");
    std::vector<Property> heard;
    {
        ProviderSettingsStore settings(defaults);
        EXPECT_TRUE(settings.notifiesWhenWaiting());
        EXPECT_TRUE(settings.notifiesWhenFinished());
        EXPECT_FALSE(settings.playsNotificationSound());
        EXPECT_FALSE(defaults->boolValue("notifyWhenAgentNeedsYou.v1")) << "a default was stored";
        settings.addObserver([&](Property property) { heard.push_back(property); });
        settings.setNotifiesWhenWaiting(false);
        settings.setNotifiesWhenWaiting(false);
        settings.setNotifiesWhenFinished(false);
        settings.setPlaysNotificationSound(true);
    }
    EXPECT_EQ(heard, (std::vector<Property>{Property::notifiesWhenWaiting, Property::notifiesWhenFinished,
                                            Property::playsNotificationSound}));
    EXPECT_EQ(defaults->boolValue("notifyWhenAgentNeedsYou.v1"), false);
    EXPECT_EQ(defaults->boolValue("notifyWhenRunFinishes.v1"), false);
    EXPECT_EQ(defaults->boolValue("notificationSoundEnabled.v1"), true);

    ProviderSettingsStore restarted(defaults);
    EXPECT_FALSE(restarted.notifiesWhenWaiting());
    EXPECT_FALSE(restarted.notifiesWhenFinished());
    EXPECT_TRUE(restarted.playsNotificationSound());
}
