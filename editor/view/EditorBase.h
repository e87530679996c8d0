#pragma once

#include "HostWindow.h"
#include "PlatformWindow.h"
#include "gui/Frame.h"

#include <memory>
#include <string>
#include <vector>

namespace corvex {

// The base of our editor views, free of any plug-in format: runs a frame of our GUI layer
// between open and close, and owns the editor timer. The timer is started before open and
// stopped before close; each tick arrives as the message kTimerFired through notify.
//
// The window system stays out of this class: attach() builds the frame offscreen and, for a
// real platform type, a CPlatformWindow that calls onTimer() every getIdleRate() ms through the
// host's run loop, passes mouse input to the on*() handlers below and shows what presentFrame()
// reports.
//
// Content scaling: a host's factor (setContentScale), else CORVEX_UI_SCALE, else the window
// system's setting (X11: Xft.dpi, 96 = 1.0), sizes the view at round(width x factor) x
// round(height x factor) device pixels; the frame keeps its layout coordinates and draws at
// that scale, and pointer positions are mapped back to layout pixels exactly.
class CEditorBase {
public:
    static constexpr double kMinScale = 0.5;
    static constexpr double kMaxScale = 4.0;
    static constexpr const char* kScaleVariable = "CORVEX_UI_SCALE";

    static constexpr const char* kTimerFired = "timer fired";
    // Our own platform type: the frame lives only in its framebuffer (tests, screenshots).
    static constexpr const char* kPlatformTypeOffscreen = "CorvexOffscreen";
    static constexpr int kDefaultIdleRate = 100; // ms

    CEditorBase(int width, int height);
    virtual ~CEditorBase();
    CEditorBase(const CEditorBase&) = delete;
    CEditorBase& operator=(const CEditorBase&) = delete;

    // Opens the editor in the host's `parent` window of platform `type` (or offscreen), with
    // `host` for the run loop and size requests (may be null offscreen); false, leaving nothing
    // behind, if it is open already or cannot open.
    bool attach(void* parent, const char* type, CHostWindow* host);
    // Closes what attach opened; false if it was not open.
    bool detach();
    bool isAttached() const { return m_bAttached; }
    // True for the window systems a host may offer (the offscreen type is for our own tools).
    static bool isPlatformTypeSupported(const char* type);

    void setIdleRate(int milliseconds) { m_iIdleRate = milliseconds; }
    int getIdleRate() const { return m_iIdleRate; }
    bool isTimerRunning() const { return m_bTimerRunning; }
    // One tick of the editor timer; ignored while the timer is stopped.
    void onTimer();

    gui::CFrame* getFrame() const { return frame.get(); }
    // Device pixels per layout pixel the view draws at.
    double getContentScale() const { return m_dScale; }
    // The host's factor, which wins over the defaults; false, changing nothing, outside
    // [kMinScale, kMaxScale]. An open view is rebuilt at the new scale and asks for its new size.
    bool setContentScale(double factor);
    // The view's device size at its scale: round(layout size x scale).
    gui::CRect scaledSize() const;
    // The layout's size in layout pixels.
    int getLayoutWidth() const { return m_iLayoutWidth; }
    int getLayoutHeight() const { return m_iLayoutHeight; }
    // A factor from the CORVEX_UI_SCALE text: a number in [kMinScale, kMaxScale], else 0.
    static double ParseScale(const char* text);
    // The editor's own window inside the host's while attached to a real window system, else 0.
    std::uintptr_t getNativeWindow() const { return m_pWindow ? m_pWindow->nativeWindow() : 0; }

    // Mouse input from the window, in device pixels of the framebuffer (layout pixels at scale
    // 1); what it changes is shown at once.
    void onMouseDown(const gui::CMouseEvent& event);
    void onMouseMoved(const gui::CMouseEvent& event);
    void onMouseUp(const gui::CMouseEvent& event);
    void onWheel(const gui::CMouseEvent& event, float distance);
    // A right-click: the context menu of what lies at event.where (device pixels).
    void onContextMenu(const gui::CMouseEvent& event);
    // The pointer left the window.
    void onMouseExited() { m_bPointerInside = false; }
    // Where the pointer last was over the window, if it is there now.
    bool getPointer(gui::CPoint& where) const
    {
        where = m_pointer;
        return m_bPointerInside;
    }

    // Files dragged over the window at `where` (device pixels): true when a drop there is taken.
    bool acceptsDrop(gui::CPoint where) const;
    // Files (paths) dropped at `where`; true when the editor took them.
    bool onDrop(gui::CPoint where, const std::vector<std::string>& paths);
    // A drag the editor would take is over it (true), or has left or ended (false).
    void onDragOver(bool over) { dragOver(over); }
    // Asks the window's file chooser for one file; false with a reason when none can be shown.
    bool chooseFile(const std::string& title, const FileFilter& filter, std::string& error);
    bool isChoosingFile() const { return m_pWindow && m_pWindow->isChoosingFile(); }
    // The chooser's answer: the chosen file's path; both empty when the user cancelled; `error`
    // when no chooser could be shown after all.
    void onFileChosen(const std::string& path, const std::string& error = {});

    // A key pressed while the editor has the keyboard; false hands it back to the host (its
    // shortcuts keep working).
    bool onKey(const gui::CKeyEvent& event);

    // Handles kTimerFired: redraws every control whose value changed.
    virtual void notify(const char* message);

    // Builds the frame in `parent`; false if the view cannot open (or is open already).
    virtual bool open(void* parent) = 0;
    // Destroys the frame and everything open() built.
    virtual void close() = 0;

protected:
    // What the editor does with a key; true when it used it.
    virtual bool handleKey(const gui::CKeyEvent& /*event*/) { return false; }
    // The context menu for what lies at `where` (device pixels); true when one was shown.
    virtual bool contextMenu(gui::CPoint /*where*/) { return false; }
    // Whether the editor takes files dropped at `where`, and the drop itself (layout pixels).
    virtual bool isDropTarget(gui::CPoint /*where*/) const { return false; }
    virtual bool filesDropped(gui::CPoint /*where*/, const std::vector<std::string>& /*paths*/) { return false; }
    virtual void dragOver(bool /*over*/) {}
    // The file chooser's answer, as onFileChosen has it.
    virtual void fileChosen(const std::string& /*path*/, const std::string& /*error*/) {}
    // Shows the module's dialog resource modally over the editor's window.
    virtual void runModalDialog(int resourceId);
    // The frame repainted `painted` in its framebuffer; a window layer copies it to the screen.
    virtual void presentFrame(const gui::CRect& painted);
    // Repaints the frame's dirty region and presents it.
    void redrawFrame();

    std::unique_ptr<gui::CFrame> frame;

private:
    gui::CMouseEvent toLayout(gui::CMouseEvent event) const;
    // Rebuilds an open frame at the current scale, resizes the window and tells the host.
    void applyScale();

    std::unique_ptr<CPlatformWindow> m_pWindow;
    CHostWindow* m_pHost = nullptr;
    void* m_pParent = nullptr;
    bool m_bAttached = false;
    int m_iLayoutWidth;
    int m_iLayoutHeight;
    double m_dScale = 1.0;
    bool m_bHostScale = false; // the host set the factor: it wins over the defaults
    int m_iIdleRate = kDefaultIdleRate;
    bool m_bTimerRunning = false;
    gui::CPoint m_pointer;
    bool m_bPointerInside = false;
};

} // namespace corvex
