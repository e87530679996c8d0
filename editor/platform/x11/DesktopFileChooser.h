#pragma once

#include "PlatformWindow.h"

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>

struct DBusConnection;
struct DBusMessage;

namespace corvex {

// The desktop's own file chooser, asked without ever blocking the host's user-interface thread:
// the XDG desktop portal's FileChooser.OpenFile over the session bus, else zenity or kdialog run
// as a child process. Nothing runs on a thread of its own: poll(), called on the editor timer,
// reads whatever has arrived and hands the outcome on once.
class CDesktopFileChooser {
public:
    static constexpr const char* kPortalService = "org.freedesktop.portal.Desktop";
    static constexpr const char* kNoChooser = "no file chooser available (no desktop portal, zenity or kdialog)";

    // onDone(path, error): the chosen file; both empty when the user cancelled; error when no
    // chooser could be shown.
    using Done = std::function<void(const std::string& path, const std::string& error)>;

    explicit CDesktopFileChooser(Done onDone) : m_onDone(std::move(onDone)) {}
    ~CDesktopFileChooser();
    CDesktopFileChooser(const CDesktopFileChooser&) = delete;
    CDesktopFileChooser& operator=(const CDesktopFileChooser&) = delete;

    // Shows a chooser for the X11 window `parent`; false with a reason when none can be shown.
    // A chooser already open stays the only one (true).
    bool open(unsigned long parent, const std::string& title, const FileFilter& filter, std::string& error);
    bool isOpen() const { return m_pConnection != nullptr || m_child > 0; }
    void poll();

private:
    bool openPortal(unsigned long parent);
    // Once the bus named us: asks the portal for a file.
    bool callPortal(const char* uniqueName);
    void pollPortal();
    // True when `message` ended the request.
    bool handlePortalMessage(DBusMessage* message);
    void closePortal();
    // The portal cannot answer: the next chooser, or the news that there is none.
    void fallBack();
    bool openChild();
    void pollChild();
    void closeChild();
    void finish(const std::string& path, const std::string& error);

    Done m_onDone;
    std::string m_sTitle;
    FileFilter m_filter;
    DBusConnection* m_pConnection = nullptr;
    unsigned long m_iParent = 0;
    std::uint32_t m_iHelloSerial = 0; // our Hello to the bus while its reply is due
    std::uint32_t m_iCallSerial = 0;  // the OpenFile call while its reply is due
    bool m_bRequestOpen = false;      // the portal's dialog may be up
    std::string m_sHandle; // the portal request's object path
    pid_t m_child = 0;
    int m_iChildOutput = -1;
    std::string m_sChildOutput;
};

} // namespace corvex
