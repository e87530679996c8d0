#include "EditorBase.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace corvex {

CEditorBase::CEditorBase(int width, int height) : m_iLayoutWidth(width), m_iLayoutHeight(height) {}

CEditorBase::~CEditorBase() = default;

double CEditorBase::ParseScale(const char* text)
{
    if (text == nullptr || *text == 0)
        return 0.0;
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    return end != text && *end == 0 && value >= kMinScale && value <= kMaxScale ? value : 0.0;
}

gui::CRect CEditorBase::scaledSize() const
{
    const auto scaled = [&](int v) { return int(std::floor(v * m_dScale + 0.5)); };
    return {0, 0, scaled(m_iLayoutWidth), scaled(m_iLayoutHeight)};
}

bool CEditorBase::setContentScale(double factor)
{
    if (!(factor >= kMinScale && factor <= kMaxScale))
        return false;
    m_bHostScale = true;
    if (factor != m_dScale) {
        m_dScale = factor;
        applyScale();
    }
    return true;
}

void CEditorBase::applyScale()
{
    if (!frame)
        return;
    // Every control is rebuilt at the new scale from the host's current values.
    close();
    if (!open(m_pParent))
        return;
    const gui::CRect size = scaledSize();
    if (m_pWindow)
        m_pWindow->resize(size.width(), size.height());
    if (m_pHost != nullptr)
        m_pHost->requestSize(size.width(), size.height());
    redrawFrame();
}

void CEditorBase::onTimer()
{
    if (m_bTimerRunning)
        notify(kTimerFired);
}

void CEditorBase::notify(const char* message)
{
    if (message != nullptr && std::strcmp(message, kTimerFired) == 0 && frame) {
        frame->idle();
        redrawFrame();
    }
}

bool CEditorBase::isPlatformTypeSupported(const char* type)
{
    return type != nullptr && IsPlatformWindowTypeSupported(type);
}

bool CEditorBase::attach(void* parent, const char* type, CHostWindow* host)
{
    if (parent == nullptr || type == nullptr || m_bAttached)
        return false;
    const bool bOffscreen = std::strcmp(type, kPlatformTypeOffscreen) == 0;
    if (!bOffscreen && !isPlatformTypeSupported(type))
        return false;
    // The host's factor wins; without one, the user's variable, then the window system's setting.
    if (!m_bHostScale && !bOffscreen) {
        double scale = ParseScale(std::getenv(kScaleVariable));
        if (scale == 0.0)
            scale = PlatformContentScale(type);
        m_dScale = scale >= kMinScale && scale <= kMaxScale ? scale : 1.0;
    }
    m_pHost = host;
    m_pParent = parent;
    // The window registers the timer with the host, so it exists before the frame opens.
    if (!bOffscreen) {
        m_pWindow = CreatePlatformWindow(type, parent, *this, host);
        if (!m_pWindow) {
            m_pHost = nullptr;
            m_pParent = nullptr;
            return false;
        }
    }
    m_bTimerRunning = true;
    if (!open(parent)) {
        m_bTimerRunning = false;
        m_pWindow.reset();
        m_pHost = nullptr;
        m_pParent = nullptr;
        return false;
    }
    m_bAttached = true;
    if (m_pHost != nullptr) {
        const gui::CRect size = scaledSize();
        m_pHost->requestSize(size.width(), size.height());
    }
    redrawFrame();
    return true;
}

bool CEditorBase::detach()
{
    if (!m_bAttached)
        return false;
    m_bTimerRunning = false;
    m_pWindow.reset();
    close();
    m_bAttached = false;
    m_pHost = nullptr;
    m_pParent = nullptr;
    return true;
}

void CEditorBase::runModalDialog(int /*resourceId*/) {}

void CEditorBase::presentFrame(const gui::CRect& painted)
{
    if (m_pWindow)
        m_pWindow->present(painted);
}

void CEditorBase::redrawFrame()
{
    if (!frame)
        return;
    frame->redraw();
    for (const gui::CRect& painted : frame->getPaintedRegion())
        presentFrame(frame->getOffscreen().toDevice(painted));
}

void CEditorBase::onMouseDown(const gui::CMouseEvent& deviceEvent)
{
    const gui::CMouseEvent event = toLayout(deviceEvent);
    m_pointer = event.where;
    m_bPointerInside = true;
    if (frame) {
        frame->onMouseDown(event);
        redrawFrame();
    }
}

void CEditorBase::onMouseMoved(const gui::CMouseEvent& deviceEvent)
{
    const gui::CMouseEvent event = toLayout(deviceEvent);
    m_pointer = event.where;
    m_bPointerInside = true;
    if (frame) {
        frame->onMouseMoved(event);
        redrawFrame();
    }
}

void CEditorBase::onMouseUp(const gui::CMouseEvent& deviceEvent)
{
    const gui::CMouseEvent event = toLayout(deviceEvent);
    if (frame) {
        frame->onMouseUp(event);
        redrawFrame();
    }
}

void CEditorBase::onWheel(const gui::CMouseEvent& deviceEvent, float distance)
{
    const gui::CMouseEvent event = toLayout(deviceEvent);
    if (frame) {
        frame->onWheel(event, distance);
        redrawFrame();
    }
}

void CEditorBase::onContextMenu(const gui::CMouseEvent& deviceEvent)
{
    m_pointer = toLayout(deviceEvent).where;
    m_bPointerInside = true;
    contextMenu(deviceEvent.where);
}

gui::CMouseEvent CEditorBase::toLayout(gui::CMouseEvent event) const
{
    if (frame)
        event.where = frame->getOffscreen().toLayout(event.where);
    return event;
}

bool CEditorBase::acceptsDrop(gui::CPoint where) const
{
    return frame && isDropTarget(frame->getOffscreen().toLayout(where));
}

bool CEditorBase::onDrop(gui::CPoint where, const std::vector<std::string>& paths)
{
    if (!frame || paths.empty())
        return false;
    where = frame->getOffscreen().toLayout(where);
    if (!isDropTarget(where) || !filesDropped(where, paths))
        return false;
    redrawFrame();
    return true;
}

bool CEditorBase::chooseFile(const std::string& title, const FileFilter& filter, std::string& error)
{
    if (!m_pWindow) {
        error = "no file chooser available";
        return false;
    }
    return m_pWindow->chooseFile(title, filter, error);
}

void CEditorBase::onFileChosen(const std::string& path, const std::string& error)
{
    fileChosen(path, error);
    redrawFrame();
}

bool CEditorBase::onKey(const gui::CKeyEvent& event)
{
    if (!frame || event.key == gui::VirtualKey::Other || !handleKey(event))
        return false;
    redrawFrame();
    return true;
}

} // namespace corvex
