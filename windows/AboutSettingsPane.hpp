#pragma once

#include "windows/AboutUpdater.hpp"

#include <QWidget>

#include <functional>
#include <memory>
#include <string>

class QCheckBox;

namespace brindleaf {

// The About tab: the application's icon, name and version, the update check
// and its automatic switch (when an updater is given), what the product is
// for, the privacy and support links (opened in the browser, https only) and
// the closing lines.
//
// Object names, for tests: "version", "checkForUpdates", "automaticChecks",
// "privacyPolicy", "support".
class AboutSettingsPane final : public QWidget {
    Q_OBJECT

public:
    struct Options {
        std::shared_ptr<AboutUpdater> updater;    // none: no update controls
        std::string version;                      // the project version (BuildInfo); empty reads 1.0
        std::string build;                        // empty reads 1
        std::string productHost = "quorvale.com"; // BuildInfo::productHost() in the window
        // Opens a link; the desktop's browser when empty. Only https links reach it.
        std::function<void(const std::string&)> openLink;
    };

    explicit AboutSettingsPane(Options options, QWidget* parent = nullptr);
    ~AboutSettingsPane() override;

    void refresh();

private:
    void open(const std::string& url);

    Options options_;
    AboutUpdater::ObserverID updaterObserver_ = 0;
    QCheckBox* automaticChecks_ = nullptr;
};

} // namespace brindleaf
