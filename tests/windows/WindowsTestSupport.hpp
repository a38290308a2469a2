#pragma once

#include "platform/UserDefaults.hpp"
#include "services/LaunchAtLoginController.hpp"
#include "services/ProviderSettingsStore.hpp"
#include "tests/support/TempDir.hpp"

#include <QApplication>

#include <memory>

namespace brindleaf::testing {

// The process's QApplication (off screen unless the environment chose otherwise).
QApplication& windowsApplication();
// Runs the event loop until nothing is left to do at once.
void settle();

// A settings store over an in-memory suite, and a login-item controller over a temporary folder.
struct SettingsFixture {
    TempDir dir;
    std::shared_ptr<UserDefaults> defaults = UserDefaults::inMemory("settings-tests");
    std::shared_ptr<ProviderSettingsStore> settings = std::make_shared<ProviderSettingsStore>(defaults);
    std::shared_ptr<LaunchAtLoginController> launchAtLogin = std::make_shared<LaunchAtLoginController>(
        LaunchAtLoginController::Locations{dir / "autostart", {}, "/usr/bin/brindleaf"});
};

} // namespace brindleaf::testing
