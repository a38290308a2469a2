#pragma once

namespace brindleaf::TrayApplication {

// Runs the tray application until it quits: picks the display, makes sure
// this is the user's only running copy, shows the tray icon and keeps it
// current. Returns the exit code; 1 without a display.
int run(int argc, char** argv);

} // namespace brindleaf::TrayApplication
