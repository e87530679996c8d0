#pragma once

// The XEmbed protocol (freedesktop.org, version 0) as both of our sides speak it: the editor's
// window is a client, corvex's top-level window an embedder. Messages travel as ClientMessage
// events of type _XEMBED (format 32: time, message, detail, data1, data2); a client announces
// itself with the _XEMBED_INFO property (version, flags).

namespace corvex {

constexpr const char* kXEmbedAtomName = "_XEMBED";
constexpr const char* kXEmbedInfoAtomName = "_XEMBED_INFO";
constexpr long kXEmbedVersion = 0;

// _XEMBED_INFO flags.
constexpr long kXEmbedMapped = 1 << 0;

// Messages.
constexpr long kXEmbedEmbeddedNotify = 0;
constexpr long kXEmbedWindowActivate = 1;
constexpr long kXEmbedWindowDeactivate = 2;
constexpr long kXEmbedRequestFocus = 3;
constexpr long kXEmbedFocusIn = 4;
constexpr long kXEmbedFocusOut = 5;

// XEMBED_FOCUS_IN details.
constexpr long kXEmbedFocusCurrent = 0;

} // namespace corvex
