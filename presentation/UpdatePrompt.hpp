#pragma once

#include "platform/AppcastItem.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace brindleaf {

// What the update window says about an offered release, and what its
// buttons may do. Texts from the appcast come from the network: they are
// turned into plain text here and shown as plain text; only https links are
// ever opened.
struct UpdatePrompt {
    static constexpr const char* windowTitle = "Software Update";
    static constexpr const char* downloadTitle = "Download";
    static constexpr const char* remindLaterTitle = "Remind Me Later";
    static constexpr const char* skipTitle = "Skip This Version";
    static constexpr const char* releaseNotesTitle = "Release Notes:";
    static constexpr const char* upToDateTitle = "You're up to date!";
    static constexpr const char* checkFailedTitle = "Update Check Failed";
    // Longer release notes are cut off (with a last line saying so).
    static constexpr std::size_t maxNotesCharacters = 20000;

    std::string headline;
    std::string versionLine;
    std::string releaseNotes;
    // The https page the Download button opens; none disables the button.
    std::optional<std::string> downloadAddress;

    static UpdatePrompt make(const AppcastItem& item, std::string_view runningVersion);

    static std::string upToDateMessage(std::string_view runningVersion);
    static std::string checkFailedMessage(std::string_view detail);

    // Release notes as the appcast gives them (often HTML) as readable plain
    // text: tags dropped (scripts and styles with their content), line breaks
    // for paragraphs, breaks and list items, entities replaced, blank runs
    // collapsed.
    static std::string plainText(std::string_view notes);
};

} // namespace brindleaf
