#pragma once

#include "presentation/StatusLine.hpp"

namespace brindleaf {

// `brindleaf --watch`: the tray application's refresh cycle (the status bar
// controller with its poll timer, file watches and the Codex daemon's
// notifications) without a tray or a display, printing one line each time
// what it shows changes: the first as soon as the first refresh is applied,
// then one per change, nothing while nothing changes. No instance lock: it
// runs beside the tray application and beside other copies of itself. It
// syncs nothing and registers no hot key.
namespace StatusWatch {

// Runs until the reader of standard output goes away (a pipe's reader closes
// it, a terminal hangs up) or SIGTERM, SIGINT or SIGHUP comes; noticed at
// once, also while nothing is printed. Returns the exit status: 0 then, 1 when standard
// output fails otherwise (said on standard error). A line that the reader
// does not take yet is not waited for: lines that follow replace the one
// still waiting whole, so the reader gets the newest line next.
int run(StatusLine::Format format);

} // namespace StatusWatch

} // namespace brindleaf
