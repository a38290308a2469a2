#include "services/ProviderSettingsStore.hpp"

#include "core/ProviderCatalog.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

using namespace brindleaf;
using brindleaf::testing::TempDir;

namespace {

using Strings = std::vector<std::string>;
using IDs = std::set<std::string>;

const ProviderDescriptor& catalogEntry(const std::string& id) {
    for (const auto& provider : ProviderCatalog::all()) {
        if (provider.id == id) return provider;
    }
    throw std::runtime_error("no provider " + id);
}

class ProviderSettingsStoreTest : public ::testing::Test {
protected:
    // A fresh object over the same file, as a later launch would see it.
    std::shared_ptr<UserDefaults> suite() const { return UserDefaults::open("settings", dir_.path()); }
    std::unique_ptr<ProviderSettingsStore> store() const { return std::make_unique<ProviderSettingsStore>(suite()); }
    void storeShortcutData(const std::string& key, const std::string& json) const {
        suite()->set(key, DefaultsValue::data(json));
    }

    TempDir dir_;
};

} // namespace

TEST_F(ProviderSettingsStoreTest, FreshSuiteLoadsDefaultsAndWritesTheProviderLists) {
    auto settings = store();
    EXPECT_EQ(settings->enabledProviderIDs(), (IDs{"claude", "codex", "hermes"}));
    EXPECT_EQ(settings->iconStyle(), StatusIconStyle::pulse);
    EXPECT_EQ(settings->iconRenderingMode(), StatusIconRenderingMode::monochrome);
    EXPECT_EQ(settings->iconSizeOption(), StatusIconSizeOption::medium);
    EXPECT_EQ(settings->toggleShortcut(), (HotkeyShortcut{1, 6400}));
    EXPECT_EQ(settings->windowShortcut(), (HotkeyShortcut{0, 6400}));
    EXPECT_TRUE(settings->isCloudSyncEnabled());
    EXPECT_FALSE(settings->isShowingSampleData());
    EXPECT_TRUE(settings->acknowledgedErrorMessagesByProviderKey().empty());

    auto stored = suite();
    EXPECT_EQ(stored->stringArray("enabledProviderIDs"), (Strings{"claude", "codex", "hermes"}));
    EXPECT_EQ(stored->stringArray("knownLiveProviderIDs"), (Strings{"claude", "codex", "hermes"}));
    EXPECT_EQ(stored->dictionary("acknowledgedProviderErrors"), DefaultsValue::Dictionary{});
    // Icon options, shortcuts and cloud sync are written only when they change.
    for (const char* key : {"statusIconStyle.v1", "statusIconRenderingMode.v2", "statusIconSizeOption.v2",
                            "toggleWindowShortcut", "standaloneWindowShortcut", "cloudSyncEnabled"}) {
        EXPECT_FALSE(stored->object(key)) << key;
    }
}

TEST_F(ProviderSettingsStoreTest, EnabledProvidersMigrateFromOlderLists) {
    struct Case {
        const char* name;
        std::optional<DefaultsValue> enabled;
        std::optional<DefaultsValue> known;
        IDs expected;
    };
    const auto full = DefaultsValue::strings({"claude", "codex", "hermes"});
    const Case cases[] = {
        {"no known list: every live provider is new",
         DefaultsValue::strings({"codex"}),
         std::nullopt,
         {"claude", "codex", "hermes"}},
        {"full known list keeps the choice", DefaultsValue::strings({"codex"}), full, {"codex"}},
        {"a provider added since the known list is switched on",
         DefaultsValue::strings({"codex"}),
         DefaultsValue::strings({"codex", "claude"}),
         {"codex", "hermes"}},
        {"empty list falls back to all", DefaultsValue::strings({}), full, {"claude", "codex", "hermes"}},
        {"unknown ids are dropped", DefaultsValue::strings({"gemini", "hermes"}), full, {"hermes"}},
        {"only unknown ids fall back to all", DefaultsValue::strings({"gemini"}), full, {"claude", "codex", "hermes"}},
        {"a mistyped list counts as absent", DefaultsValue("codex"), full, {"claude", "codex", "hermes"}},
        {"a mistyped known list counts as absent",
         DefaultsValue::strings({"claude"}),
         DefaultsValue(3),
         {"claude", "codex", "hermes"}},
        {"a known list with a number counts as absent",
         DefaultsValue::strings({"claude"}),
         DefaultsValue(DefaultsValue::Array{DefaultsValue("codex"), DefaultsValue(1)}),
         {"claude", "codex", "hermes"}},
        {"a list with a null element counts as absent",
         DefaultsValue(DefaultsValue::Array{DefaultsValue("codex"), DefaultsValue(DefaultsValue::Foreign{"null"})}),
         full,
         {"claude", "codex", "hermes"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        auto defaults = UserDefaults::open("s", dir.path());
        if (c.enabled) defaults->set("enabledProviderIDs", *c.enabled);
        if (c.known) defaults->set("knownLiveProviderIDs", *c.known);
        ProviderSettingsStore settings(defaults);
        EXPECT_EQ(settings.enabledProviderIDs(), c.expected);
        auto reread = UserDefaults::open("s", dir.path());
        auto written = reread->stringArray("enabledProviderIDs");
        ASSERT_TRUE(written);
        EXPECT_EQ(IDs(written->begin(), written->end()), c.expected);
        EXPECT_TRUE(std::is_sorted(written->begin(), written->end()));
        EXPECT_EQ(reread->stringArray("knownLiveProviderIDs"), (Strings{"claude", "codex", "hermes"}));
        // A second launch over the migrated values keeps the same choice.
        EXPECT_EQ(ProviderSettingsStore(reread).enabledProviderIDs(), c.expected);
    }
}

TEST_F(ProviderSettingsStoreTest, IconOptionsMigrateFromLegacyKeys) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, DefaultsValue>> stored;
        StatusIconStyle style;
        StatusIconRenderingMode rendering;
        StatusIconSizeOption size;
        bool writesNewKeys;
    };
    const Case cases[] = {
        {"legacy grayscale, no legacy size", {{"statusIconRenderingMode", DefaultsValue("grayscale")}},
         StatusIconStyle::cloud, StatusIconRenderingMode::monochrome, StatusIconSizeOption::large, true},
        {"legacy color with small size",
         {{"statusIconRenderingMode", DefaultsValue("color")}, {"statusIconSizeOption", DefaultsValue("small")}},
         StatusIconStyle::cloud, StatusIconRenderingMode::color, StatusIconSizeOption::small, true},
        {"unreadable legacy values",
         {{"statusIconRenderingMode", DefaultsValue("sepia")}, {"statusIconSizeOption", DefaultsValue("huge")}},
         StatusIconStyle::cloud, StatusIconRenderingMode::color, StatusIconSizeOption::large, true},
        {"a current style ignores the legacy keys",
         {{"statusIconStyle.v1", DefaultsValue("pulse")}, {"statusIconRenderingMode", DefaultsValue("color")}},
         StatusIconStyle::pulse, StatusIconRenderingMode::monochrome, StatusIconSizeOption::medium, false},
        {"current values, grayscale read leniently",
         {{"statusIconStyle.v1", DefaultsValue("cloud")},
          {"statusIconRenderingMode.v2", DefaultsValue("grayscale")},
          {"statusIconSizeOption.v2", DefaultsValue("large")}},
         StatusIconStyle::cloud, StatusIconRenderingMode::monochrome, StatusIconSizeOption::large, false},
        {"unknown current values",
         {{"statusIconStyle.v1", DefaultsValue("Cloud")},
          {"statusIconRenderingMode.v2", DefaultsValue("colour")},
          {"statusIconSizeOption.v2", DefaultsValue("Large")}},
         StatusIconStyle::pulse, StatusIconRenderingMode::monochrome, StatusIconSizeOption::medium, false},
        {"mistyped current values",
         {{"statusIconStyle.v1", DefaultsValue("cloud")},
          {"statusIconRenderingMode.v2", DefaultsValue(1)},
          {"statusIconSizeOption.v2", DefaultsValue(true)}},
         StatusIconStyle::cloud, StatusIconRenderingMode::monochrome, StatusIconSizeOption::medium, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        auto defaults = UserDefaults::open("s", dir.path());
        for (const auto& [key, value] : c.stored) defaults->set(key, value);
        const auto before = defaults->dictionaryRepresentation();
        ProviderSettingsStore settings(defaults);
        EXPECT_EQ(settings.iconStyle(), c.style);
        EXPECT_EQ(settings.iconRenderingMode(), c.rendering);
        EXPECT_EQ(settings.iconSizeOption(), c.size);
        auto reread = UserDefaults::open("s", dir.path());
        if (c.writesNewKeys) {
            EXPECT_EQ(reread->string("statusIconStyle.v1"), "cloud");
            EXPECT_EQ(reread->string("statusIconRenderingMode.v2"), toString(c.rendering));
            EXPECT_EQ(reread->string("statusIconSizeOption.v2"), toString(c.size));
            // The next launch reads the migrated keys and agrees.
            ProviderSettingsStore again(reread);
            EXPECT_EQ(again.iconRenderingMode(), c.rendering);
            EXPECT_EQ(again.iconSizeOption(), c.size);
        } else {
            for (const char* key : {"statusIconStyle.v1", "statusIconRenderingMode.v2", "statusIconSizeOption.v2"}) {
                EXPECT_EQ(reread->object(key), before.count(key) ? std::optional(before.at(key)) : std::nullopt) << key;
            }
        }
    }
}

TEST_F(ProviderSettingsStoreTest, IconSettersWriteOnlyRealChanges) {
    auto settings = store();
    std::vector<ProviderSettingsStore::Property> heard;
    settings->addObserver([&](auto property) { heard.push_back(property); });
    settings->setIconStyle(StatusIconStyle::pulse);
    settings->setIconRenderingMode(StatusIconRenderingMode::monochrome);
    EXPECT_TRUE(heard.empty());
    EXPECT_FALSE(suite()->object("statusIconStyle.v1"));

    settings->setIconStyle(StatusIconStyle::cloud);
    settings->setIconRenderingMode(StatusIconRenderingMode::color);
    settings->setIconSizeOption(StatusIconSizeOption::small);
    EXPECT_EQ(heard.size(), 3u);
    auto reloaded = store();
    EXPECT_EQ(reloaded->iconStyle(), StatusIconStyle::cloud);
    EXPECT_EQ(reloaded->iconRenderingMode(), StatusIconRenderingMode::color);
    EXPECT_EQ(reloaded->iconSizeOption(), StatusIconSizeOption::small);
}

TEST_F(ProviderSettingsStoreTest, StoredShortcutsFallBackToDefaultsWhenUnusable) {
    struct Case {
        const char* name;
        std::optional<std::string> toggle;
        std::optional<std::string> window;
        HotkeyShortcut expectedToggle;
        HotkeyShortcut expectedWindow;
    };
    const Case cases[] = {
        {"valid custom shortcuts", R"({"keyCode":49,"carbonModifiers":256})", R"({"keyCode":3,"carbonModifiers":4608})",
         {49, 256}, {3, 4608}},
        {"shift alone is not enough", R"({"keyCode":49,"carbonModifiers":512})", std::nullopt, {1, 6400}, {0, 6400}},
        {"not JSON", "garbage", R"({"keyCode":2})", {1, 6400}, {0, 6400}},
        {"negative and fractional members", R"({"keyCode":-1,"carbonModifiers":256})",
         R"({"keyCode":1.5,"carbonModifiers":256})", {1, 6400}, {0, 6400}},
        {"members beyond 32 bits", R"({"keyCode":4294967296,"carbonModifiers":256})", std::nullopt, {1, 6400},
         {0, 6400}},
        {"window equal to toggle resets the window", R"({"keyCode":7,"carbonModifiers":2048})",
         R"({"keyCode":7,"carbonModifiers":2048})", {7, 2048}, {0, 6400}},
        // Resetting the window alone would leave both equal to 0/6400.
        {"toggle equal to the window default resets both", R"({"keyCode":0,"carbonModifiers":6400})",
         R"({"keyCode":0,"carbonModifiers":6400})", {1, 6400}, {0, 6400}},
        {"toggle on the window default, window unset", R"({"keyCode":0,"carbonModifiers":6400})", std::nullopt,
         {1, 6400}, {0, 6400}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        auto defaults = UserDefaults::open("s", dir.path());
        if (c.toggle) defaults->set("toggleWindowShortcut", DefaultsValue::data(*c.toggle));
        if (c.window) defaults->set("standaloneWindowShortcut", DefaultsValue::data(*c.window));
        ProviderSettingsStore settings(defaults);
        EXPECT_EQ(settings.toggleShortcut(), c.expectedToggle);
        EXPECT_EQ(settings.windowShortcut(), c.expectedWindow);
        EXPECT_NE(settings.toggleShortcut(), settings.windowShortcut());
    }

    // A shortcut stored as text rather than data is unreadable too.
    TempDir dir;
    auto defaults = UserDefaults::open("s", dir.path());
    defaults->set("toggleWindowShortcut", R"({"keyCode":49,"carbonModifiers":256})");
    EXPECT_EQ(ProviderSettingsStore(defaults).toggleShortcut(), (HotkeyShortcut{1, 6400}));
}

TEST_F(ProviderSettingsStoreTest, ShortcutUpdatesAreAcceptedRefusedOrDuplicate) {
    auto settings = store();
    std::vector<ProviderSettingsStore::Property> heard;
    settings->addObserver([&](auto property) { heard.push_back(property); });

    // Shift alone needs a modifier, even when it also equals the other slot.
    settings->setWindowShortcut({5, 512});
    heard.clear();
    EXPECT_EQ(settings->updateToggleShortcut({5, 512}), ShortcutChangeResult::needsModifier);
    EXPECT_EQ(settings->updateToggleShortcut({9, 0}), ShortcutChangeResult::needsModifier);
    settings->setWindowShortcut({0, 6400});
    heard.clear();

    EXPECT_EQ(settings->updateToggleShortcut({0, 6400}), ShortcutChangeResult::duplicate);
    EXPECT_EQ(settings->updateWindowShortcut({1, 6400}), ShortcutChangeResult::duplicate);
    EXPECT_EQ(settings->toggleShortcut(), (HotkeyShortcut{1, 6400}));
    EXPECT_TRUE(heard.empty());
    EXPECT_FALSE(suite()->object("toggleWindowShortcut"));

    EXPECT_EQ(settings->updateToggleShortcut({0, 6144}), ShortcutChangeResult::accepted);
    EXPECT_EQ(settings->updateWindowShortcut({49, 4352}), ShortcutChangeResult::accepted);
    EXPECT_EQ(heard, (std::vector{ProviderSettingsStore::Property::toggleShortcut,
                                  ProviderSettingsStore::Property::windowShortcut}));
    EXPECT_EQ(suite()->data("toggleWindowShortcut"), R"({"keyCode":0,"carbonModifiers":6144})");
    auto reloaded = store();
    EXPECT_EQ(reloaded->toggleShortcut(), (HotkeyShortcut{0, 6144}));
    EXPECT_EQ(reloaded->windowShortcut(), (HotkeyShortcut{49, 4352}));
}

TEST_F(ProviderSettingsStoreTest, TheLastLiveProviderCannotBeSwitchedOff) {
    auto settings = store();
    const auto& codex = catalogEntry("codex");
    const auto& claude = catalogEntry("claude");
    const auto& hermes = catalogEntry("hermes");

    settings->setProvider(false, claude);
    settings->setProvider(false, hermes);
    EXPECT_EQ(settings->enabledProviderIDs(), (IDs{"codex"}));
    EXPECT_FALSE(settings->canDisable(codex));
    EXPECT_TRUE(settings->canDisable(claude)) << "a provider that is off can always be 'disabled'";

    int announcements = 0;
    settings->addObserver([&](auto) { ++announcements; });
    settings->setProvider(false, codex);
    EXPECT_EQ(settings->enabledProviderIDs(), (IDs{"codex"}));
    EXPECT_EQ(announcements, 0);
    EXPECT_EQ(suite()->stringArray("enabledProviderIDs"), (Strings{"codex"}));

    settings->setProvider(true, hermes);
    EXPECT_TRUE(settings->canDisable(codex));
    settings->setProvider(false, codex);
    EXPECT_EQ(settings->enabledProviderIDs(), (IDs{"hermes"}));
    EXPECT_EQ(announcements, 2);
    EXPECT_EQ(store()->enabledProviderIDs(), (IDs{"hermes"}));
}

TEST_F(ProviderSettingsStoreTest, AcknowledgedErrorsMatchTrimmedTextPerProviderKey) {
    auto settings = store();
    settings->acknowledgeErrors("Claude Code", {"  transcript unreadable\n", "   ", ""});
    EXPECT_EQ(settings->acknowledgedErrorMessagesByProviderKey(),
              (ProviderSettingsStore::AcknowledgedErrors{{"claude code", {"transcript unreadable"}}}));
    EXPECT_TRUE(settings->isErrorAcknowledged(" Claude Code ", "transcript unreadable"));
    EXPECT_FALSE(settings->isErrorAcknowledged("Codex", "transcript unreadable"));
    EXPECT_EQ(settings->unacknowledgedErrors("Claude Code", {"\ttranscript unreadable ", "Transcript unreadable",
                                                             "other"}),
              (Strings{"Transcript unreadable", "other"}));
    EXPECT_EQ(settings->unacknowledgedErrors("Hermes", {" x "}), (Strings{" x "}));

    int announcements = 0;
    settings->addObserver([&](auto) { ++announcements; });
    settings->acknowledgeErrors("Codex", {" ", "\n"});
    EXPECT_EQ(announcements, 0);

    auto stored = suite()->dictionary("acknowledgedProviderErrors");
    ASSERT_TRUE(stored);
    EXPECT_EQ(*stored, (DefaultsValue::Dictionary{{"claude code", DefaultsValue::strings({"transcript unreadable"})}}));
    EXPECT_TRUE(store()->isErrorAcknowledged("Claude Code", "transcript unreadable"));
}

TEST_F(ProviderSettingsStoreTest, StoredAcknowledgementsLoadTrimmedOrNotAtAll) {
    auto defaults = suite();
    defaults->set("acknowledgedProviderErrors",
                  DefaultsValue(DefaultsValue::Dictionary{{"Codex", DefaultsValue::strings({" b ", "a", " "})},
                                                          {"hermes", DefaultsValue::strings({"  "})}}));
    ProviderSettingsStore settings(defaults);
    // Keys stay as stored; providers left without text are dropped and the write-back shows it.
    EXPECT_EQ(settings.acknowledgedErrorMessagesByProviderKey(),
              (ProviderSettingsStore::AcknowledgedErrors{{"Codex", {"a", "b"}}}));
    EXPECT_EQ(suite()->dictionary("acknowledgedProviderErrors"),
              (DefaultsValue::Dictionary{{"Codex", DefaultsValue::strings({"a", "b"})}}));

    defaults->set("acknowledgedProviderErrors",
                  DefaultsValue(DefaultsValue::Dictionary{{"codex", DefaultsValue::strings({"a"})},
                                                          {"hermes", DefaultsValue("not a list")}}));
    EXPECT_TRUE(ProviderSettingsStore(suite()).acknowledgedErrorMessagesByProviderKey().empty());
}

TEST_F(ProviderSettingsStoreTest, PruningKeepsOnlyAcknowledgementsStillReported) {
    auto settings = store();
    settings->acknowledgeErrors("Codex", {"a", "b"});
    settings->acknowledgeErrors("Hermes", {"h"});
    settings->acknowledgeErrors("Claude Code", {"c"});

    int announcements = 0;
    settings->addObserver([&](auto) { ++announcements; });
    settings->pruneAcknowledgedErrors({{"Codex", {" b\n", "new"}}, {"Hermes", {"h"}}, {"Claude Code", {"  "}}});
    EXPECT_EQ(settings->acknowledgedErrorMessagesByProviderKey(),
              (ProviderSettingsStore::AcknowledgedErrors{{"codex", {"b"}}, {"hermes", {"h"}}}));
    EXPECT_EQ(announcements, 1);

    settings->pruneAcknowledgedErrors({{"Codex", {"b"}}, {"Hermes", {"h"}}});
    EXPECT_EQ(announcements, 1) << "an unchanged result is neither published nor written";

    // A later name with the same key replaces an earlier one.
    settings->pruneAcknowledgedErrors({{"Codex", {"b"}}, {"Hermes", {"h"}}, {" codex ", {"zzz"}}});
    EXPECT_EQ(settings->acknowledgedErrorMessagesByProviderKey(),
              (ProviderSettingsStore::AcknowledgedErrors{{"hermes", {"h"}}}));

    settings->pruneAcknowledgedErrors({});
    EXPECT_TRUE(settings->acknowledgedErrorMessagesByProviderKey().empty());
    EXPECT_EQ(suite()->dictionary("acknowledgedProviderErrors"), DefaultsValue::Dictionary{});
}

TEST_F(ProviderSettingsStoreTest, CloudSyncAndSampleDataFlags) {
    {
        auto defaults = suite();
        defaults->set("cloudSyncEnabled", "no");
        EXPECT_TRUE(ProviderSettingsStore(defaults).isCloudSyncEnabled()) << "a non-Boolean counts as absent";
        defaults->set("cloudSyncEnabled", false);
        EXPECT_FALSE(ProviderSettingsStore(defaults).isCloudSyncEnabled());
    }
    auto settings = store();
    settings->setCloudSyncEnabled(true);
    EXPECT_EQ(suite()->boolValue("cloudSyncEnabled"), true);
    settings->setShowingSampleData(true);
    EXPECT_TRUE(settings->isShowingSampleData());
    EXPECT_FALSE(store()->isShowingSampleData()) << "sample data is never stored";
}

TEST_F(ProviderSettingsStoreTest, ObserversHearBeforeTheValueIsStored) {
    auto settings = store();
    std::optional<StatusIconStyle> seen;
    auto id = settings->addObserver([&](auto property) {
        if (property == ProviderSettingsStore::Property::iconStyle) seen = settings->iconStyle();
    });
    settings->setIconStyle(StatusIconStyle::cloud);
    EXPECT_EQ(seen, StatusIconStyle::pulse);
    settings->removeObserver(id);
    seen.reset();
    settings->setIconStyle(StatusIconStyle::pulse);
    EXPECT_FALSE(seen);
}

TEST_F(ProviderSettingsStoreTest, HandWrittenValuesItCannotUseFallBackAndStayInTheFile) {
    dir_.write("settings.json", R"({"acknowledgedProviderErrors": {"codex": ["a", null]},
        "statusIconStyle.v1": null, "someoneElses": {"$data": "not base64"}})");
    auto settings = store();
    EXPECT_TRUE(settings->acknowledgedErrorMessagesByProviderKey().empty()) << "one foreign element voids them all";
    EXPECT_EQ(settings->iconStyle(), StatusIconStyle::pulse);
    settings->setIconStyle(StatusIconStyle::cloud);
    const std::string written = brindleaf::testing::readFile(dir_ / "settings.json");
    EXPECT_NE(written.find(R"("someoneElses": {"$data": "not base64"})"), std::string::npos) << written;
    EXPECT_EQ(suite()->string("statusIconStyle.v1"), "cloud");
}
