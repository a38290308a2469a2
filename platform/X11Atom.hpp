#pragma once

#include <xcb/xcb.h>

#include <string>

namespace brindleaf {

// The atom of a name on an X connection, made if the server does not have it
// yet; XCB_ATOM_NONE when the server does not answer.
xcb_atom_t internAtom(xcb_connection_t* connection, const std::string& name);

// The screen of that number on a connection; null when the server has none.
xcb_screen_t* screenOf(xcb_connection_t* connection, int screenNumber);

} // namespace brindleaf
