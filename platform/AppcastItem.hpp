#pragma once

#include <string>

namespace brindleaf {

// One release offered by an appcast, as the update window shows it. Every
// item the appcast reader returns has a valid version and an https download
// link; links that are not https are dropped.
struct AppcastItem {
    std::string title;
    // The version compared with the running one (the item's "version"), and
    // the one shown to the user (its short version string, else the version).
    std::string version;
    std::string displayVersion;
    // The release notes as text from the network, to be shown as plain text.
    std::string releaseNotes;
    // An https page with the release notes; empty when none.
    std::string releaseNotesLink;
    // The https page (or file) where the release is downloaded.
    std::string downloadLink;
    std::string publicationDate;

    bool operator==(const AppcastItem&) const = default;
};

} // namespace brindleaf
