#pragma once

#include "gui/Geometry.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace corvex {

class CEditorBase;
class CHostWindow;

// Files a chooser offers: a name for the user and the patterns ("*.wav") that select them.
struct FileFilter {
    std::string name;
    std::vector<std::string> patterns;
};

// The window systems' names as hosts pass them with a parent window (the VST 3 platform types).
inline constexpr const char* kPlatformTypeX11 = "X11EmbedWindowID";
inline constexpr const char* kPlatformTypeWin32 = "HWND";

// The editor's window on a real window system. It shows the frame's framebuffer, feeds the
// editor the user's mouse input and runs the editor timer, all on the host's user-interface
// thread: on Linux through the run loop its CHostWindow offers.
class CPlatformWindow {
public:
    virtual ~CPlatformWindow() = default;
    // Copies `rect` (device pixels) of the frame's framebuffer to the screen.
    virtual void present(const gui::CRect& rect) = 0;
    // The framebuffer changed size (a new scale).
    virtual void resize(int width, int height) = 0;
    // The window system's handle of the editor's own window (an X11 Window), 0 if none.
    virtual std::uintptr_t nativeWindow() const { return 0; }
    // Shows the desktop's own chooser of one file to open, without holding up the host: the
    // answer arrives later through CEditorBase::onFileChosen. False with a reason for the user
    // when no chooser can be shown.
    virtual bool chooseFile(const std::string& /*title*/, const FileFilter& /*filter*/, std::string& error)
    {
        error = "no file chooser available";
        return false;
    }
    // True from chooseFile until its answer has been handed on.
    virtual bool isChoosingFile() const { return false; }
};

// The scale the window system's settings ask for (X11: the Xft.dpi resource over 96), 0 when
// they say nothing.
double PlatformContentScale(const char* type);

// True for the platform types CreatePlatformWindow can serve.
bool IsPlatformWindowTypeSupported(const char* type);

// A window of platform `type` inside the host's `parent` showing `editor`, its input handlers and
// timer registered with `host`; null when the type is unsupported, the host offers no run loop
// or the window system refuses, in which case nothing is left behind.
std::unique_ptr<CPlatformWindow> CreatePlatformWindow(const char* type, void* parent, CEditorBase& editor,
                                                      CHostWindow* host);

} // namespace corvex
