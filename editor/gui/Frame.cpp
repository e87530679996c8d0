#include "Frame.h"

namespace corvex::gui {

CFrame::CFrame(const CRect& size, void* editor)
    : m_rSize{0, 0, size.width(), size.height()}, m_pEditor(editor), m_offscreen(size.width(), size.height())
{
    invalidate();
}

void CFrame::setBackgroundColor(CColor color)
{
    m_cBackgroundColor = color;
    invalidate();
}

void CFrame::setBackground(SharedBitmap bitmap)
{
    m_pBackground = std::move(bitmap);
    invalidate();
}

CControl* CFrame::addView(std::unique_ptr<CControl> control)
{
    if (!control)
        return nullptr;
    invalidRect(control->getViewSize());
    m_aControls.push_back(std::move(control));
    return m_aControls.back().get();
}

CControl* CFrame::getViewAt(CPoint where) const
{
    for (auto it = m_aControls.rbegin(); it != m_aControls.rend(); ++it)
        if ((*it)->getViewSize().pointInside(where))
            return it->get();
    return nullptr;
}

void CFrame::invalidRect(const CRect& rect)
{
    CRect merged = rect.intersection(m_rSize);
    if (merged.isEmpty())
        return;
    // Overlapping rectangles merge, so the region stays a short list of disjoint rectangles.
    for (std::size_t i = 0; i < m_aDirty.size();) {
        if (m_aDirty[i].overlaps(merged)) {
            merged = merged.united(m_aDirty[i]);
            m_aDirty.erase(m_aDirty.begin() + std::ptrdiff_t(i));
            i = 0;
        } else {
            ++i;
        }
    }
    m_aDirty.push_back(merged);
    if (m_aDirty.size() > kMaxDirtyRects) {
        CRect all;
        for (const CRect& r : m_aDirty)
            all = all.united(r);
        m_aDirty.assign(1, all);
    }
}

void CFrame::idle()
{
    for (const auto& control : m_aControls)
        if (control->isDirty())
            invalidRect(control->getViewSize());
}

CRect CFrame::redraw()
{
    if (m_aDirty.empty())
        return {};
    // A control touched by the region is drawn whole, once; its rectangle joins the region.
    std::vector<CControl*> touched;
    for (const auto& control : m_aControls) {
        for (const CRect& r : m_aDirty) {
            if (r.overlaps(control->getViewSize())) {
                touched.push_back(control.get());
                break;
            }
        }
    }
    for (CControl* control : touched)
        invalidRect(control->getViewSize());

    CRect painted;
    for (const CRect& r : m_aDirty) {
        m_offscreen.setClipRect(r);
        m_offscreen.fillRect(r, m_cBackgroundColor);
        if (m_pBackground)
            m_offscreen.drawBitmap(*m_pBackground, m_rSize);
        painted = painted.united(r);
    }
    m_offscreen.setClipRect(m_rSize);
    for (CControl* control : touched) {
        control->draw(m_offscreen);
        ++m_iDrawCount;
    }
    m_aDirty.clear();
    return painted;
}

bool CFrame::onMouseDown(const CMouseEvent& event)
{
    CControl* control = getViewAt(event.where);
    if (control == nullptr || !control->onMouseDown(event))
        return false;
    m_pMouseCapture = control;
    return true;
}

void CFrame::onMouseMoved(const CMouseEvent& event)
{
    if (m_pMouseCapture != nullptr)
        m_pMouseCapture->onMouseMoved(event);
}

void CFrame::onMouseUp(const CMouseEvent& event)
{
    if (m_pMouseCapture == nullptr)
        return;
    CControl* control = m_pMouseCapture;
    m_pMouseCapture = nullptr;
    control->onMouseUp(event);
}

bool CFrame::onWheel(const CMouseEvent& event, float distance)
{
    CControl* control = getViewAt(event.where);
    return control != nullptr && control->onWheel(event, distance);
}

} // namespace corvex::gui
