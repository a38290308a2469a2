#include "app/RegistrationBackoff.hpp"
#include "app/TrayActivationAnchor.hpp"
#include "app/TrayHostChoice.hpp"

#include <gtest/gtest.h>

using namespace brindleaf;
using Tray = TrayHostChoice::Tray;

TEST(TrayHostChoiceTests, TrayForTheHostsPresent) {
    struct Case {
        Tray current;
        bool watcher, watcherHasHost, xembedOwner;
        Tray chosen;
    } cases[] = {
        // At start.
        {Tray::none, false, false, false, Tray::xembed}, // embeds once a tray appears
        {Tray::none, false, false, true, Tray::xembed},
        {Tray::none, true, true, false, Tray::statusNotifier},
        {Tray::none, true, true, true, Tray::statusNotifier},
        {Tray::none, true, false, false, Tray::statusNotifier}, // shows once a host comes
        {Tray::none, true, false, true, Tray::xembed},
        // A panel starts after the application.
        {Tray::xembed, true, true, false, Tray::statusNotifier},
        {Tray::xembed, true, true, true, Tray::statusNotifier},
        // A watcher whose host left, beside an XEmbed tray.
        {Tray::statusNotifier, true, false, true, Tray::xembed},
        // The panel restarts: its watcher is gone for a moment.
        {Tray::statusNotifier, false, false, false, Tray::statusNotifier},
        // It gave way to an XEmbed tray.
        {Tray::statusNotifier, false, false, true, Tray::xembed},
        {Tray::xembed, false, false, false, Tray::xembed},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TrayHostChoice::choose(c.current, {c.watcher, c.watcherHasHost, c.xembedOwner}), c.chosen)
            << TrayHostChoice::name(c.current) << " watcher " << c.watcher << " host " << c.watcherHasHost << " xembed "
            << c.xembedOwner;
    // A watcher that refuses our item (or the item that could not go on the
    // bus) gives way to an XEmbed tray, and only to one.
    const struct {
        Tray current;
        bool watcherHasHost, xembedOwner;
        Tray chosen;
    } refusing[] = {
        {Tray::statusNotifier, true, true, Tray::xembed},
        {Tray::statusNotifier, true, false, Tray::statusNotifier},
        {Tray::statusNotifier, false, false, Tray::statusNotifier},
        {Tray::xembed, true, true, Tray::xembed},
        {Tray::xembed, true, false, Tray::statusNotifier}, // the XEmbed tray left
    };
    for (const auto& c : refusing)
        EXPECT_EQ(TrayHostChoice::choose(c.current, {true, c.watcherHasHost, c.xembedOwner, true}), c.chosen)
            << TrayHostChoice::name(c.current) << " host " << c.watcherHasHost << " xembed " << c.xembedOwner;
    // On a Wayland compositor only a watcher takes the icon: none before one
    // comes, its item kept while it is gone or refuses (it is asked again).
    const struct {
        Tray current;
        bool watcher, watcherRefusesItem;
        Tray chosen;
    } withoutXEmbed[] = {
        {Tray::none, false, false, Tray::none},
        {Tray::none, true, false, Tray::statusNotifier},
        {Tray::statusNotifier, false, false, Tray::statusNotifier},
        {Tray::statusNotifier, true, true, Tray::statusNotifier},
    };
    for (const auto& c : withoutXEmbed)
        EXPECT_EQ(TrayHostChoice::choose(c.current, {c.watcher, c.watcher, false, c.watcherRefusesItem, true}),
                  c.chosen)
            << TrayHostChoice::name(c.current) << " watcher " << c.watcher << " refusing " << c.watcherRefusesItem;
    EXPECT_FALSE(TrayHostChoice::anyHost({true, false, false}));
    EXPECT_TRUE(TrayHostChoice::anyHost({true, true, false}));
    EXPECT_TRUE(TrayHostChoice::anyHost({false, false, true}));
}

TEST(RegistrationBackoffTests, WaitsDoubleFromAQuarterSecondForTenSeconds) {
    const std::optional<double> waits[] = {std::nullopt, 0.25, 0.5, 1, 2, 4, 2.25, std::nullopt, std::nullopt};
    for (int failures = 0; failures < 9; ++failures)
        EXPECT_EQ(RegistrationBackoff::delayAfter(failures), waits[failures]) << failures << " failures";
}

TEST(TrayActivationAnchorTests, ClickPlaceThenHotKeyThere) {
    using P = TrayActivationAnchor::Point;
    TrayActivationAnchor anchor;
    // Before any activation: the pointer.
    EXPECT_EQ(anchor.withoutActivation({300, 700}), (P{300, 700}));
    // The host's position wins over the pointer; zeros mean the host did not say.
    EXPECT_EQ(anchor.activated(P{1400, 12}, {5, 5}), (P{1400, 12}));
    EXPECT_EQ(anchor.withoutActivation({300, 700}), (P{1400, 12}));
    EXPECT_EQ(anchor.activated(P{0, 0}, {1380, 10}), (P{1380, 10}));
    EXPECT_EQ(anchor.activated(std::nullopt, {1390, 11}), (P{1390, 11}));
    EXPECT_EQ(anchor.withoutActivation({300, 700}), (P{1390, 11}));
    EXPECT_EQ(anchor.activated(P{0, 30}, {5, 5}), (P{0, 30}));
}
