#pragma once

#include <memory>
#include <string>

namespace corvex::hosting {
class EditorHost;
}

namespace corvex::live {

class CLiveHost;
class CPresetStrip;

// The editor in a top-level X11 window of its own, titled "Corvex", on corvex's run loop: the
// window's events and the view's descriptors and timers are all served by that loop, on the
// user-interface thread. The window embeds the editor as an XEmbed embedder, so the panel gets
// the keyboard with the window. Closing the window (the window manager's close button) asks
// corvex to quit. The host's context menus (MIDI learning) are small popups drawn here. With a
// preset strip, the window is that much taller and the strip sits under the panel; Page Up/Down
// reaching the window itself (the pointer off the panel, or a key the panel did not take) step
// through the presets.
class CEditorWindow {
public:
    virtual ~CEditorWindow() = default;
    // Null and a message naming the display and the reason on failure.
    static std::unique_ptr<CEditorWindow> Open(CLiveHost& host, hosting::EditorHost& runLoop, std::string& error,
                                               CPresetStrip* presets = nullptr);
    virtual bool CloseRequested() const = 0;
    // On the run loop's ticks: follows a size the view asked for (a content scale of the screen),
    // and takes the pointer for an open menu once the click that opened it is let go.
    virtual void Tick() = 0;
};

} // namespace corvex::live
