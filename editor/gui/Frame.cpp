#include "Frame.h"

namespace corvex::gui {

CFrame::CFrame(const CRect& size, void* editor, double scale)
    : m_rSize{0, 0, size.width(), size.height()}, m_pEditor(editor), m_offscreen(size.width(), size.height(), scale)
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

CControl* CFrame::openModal(std::unique_ptr<CControl> panel)
{
    closeModal();
    if (!panel)
        return nullptr;
    m_pModal = std::move(panel);
    m_pModal->setDirty();
    invalidRect(m_pModal->getViewSize());
    return m_pModal.get();
}

void CFrame::closeModal()
{
    if (!m_pModal)
        return;
    if (m_pMouseCapture == m_pModal.get())
        m_pMouseCapture = nullptr;
    invalidRect(m_pModal->getViewSize());
    m_pModal.reset();
}

CRect CFrame::redraw()
{
    m_aPainted.clear();
    if (m_aDirty.empty())
        return {};
    // A control touched by the region is drawn whole, once; its rectangle joins the region, which
    // can then touch further controls (merged rectangles grow), so repeat until nothing is added.
    std::vector<CControl*> touched;
    std::vector<bool> isTouched(m_aControls.size(), false);
    for (bool grown = true; grown;) {
        grown = false;
        for (std::size_t i = 0; i < m_aControls.size(); ++i) {
            if (isTouched[i])
                continue;
            for (const CRect& r : m_aDirty) {
                if (r.overlaps(m_aControls[i]->getViewSize())) {
                    isTouched[i] = true;
                    touched.push_back(m_aControls[i].get());
                    invalidRect(m_aControls[i]->getViewSize());
                    grown = true;
                    break;
                }
            }
        }
    }
    bool modalTouched = false;
    if (m_pModal)
        for (const CRect& r : m_aDirty)
            modalTouched = modalTouched || r.overlaps(m_pModal->getViewSize());

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
    // The modal panel lies above everything, so it is painted last over whatever lies below it.
    if (modalTouched) {
        m_pModal->draw(m_offscreen);
        ++m_iDrawCount;
    }
    m_aPainted.swap(m_aDirty);
    m_aDirty.clear();
    return painted;
}

void CFrame::afterMouseEvent(CControl* control)
{
    if (control != nullptr && control != m_pModal.get() && control->isDirty())
        invalidRect(control->getViewSize());
    if (m_pModal && m_pModal->isDirty())
        invalidRect(m_pModal->getViewSize());
    if (m_pModal && m_pModal->isClosed())
        closeModal();
}

bool CFrame::onMouseDown(const CMouseEvent& event)
{
    if (m_pModal) {
        // The panel takes every press, inside it or not, until it is closed.
        m_pMouseCapture = m_pModal.get();
        m_pModal->onMouseDown(event);
        afterMouseEvent(m_pModal.get());
        return true;
    }
    CControl* control = getViewAt(event.where);
    if (control == nullptr || !control->onMouseDown(event))
        return false;
    // The listener may have opened a modal panel; the press still belongs to this control.
    m_pMouseCapture = control;
    afterMouseEvent(control);
    return true;
}

void CFrame::onMouseMoved(const CMouseEvent& event)
{
    if (CControl* control = m_pMouseCapture) {
        control->onMouseMoved(event);
        afterMouseEvent(control);
    }
}

void CFrame::onMouseUp(const CMouseEvent& event)
{
    if (m_pMouseCapture == nullptr)
        return;
    CControl* control = m_pMouseCapture;
    m_pMouseCapture = nullptr;
    control->onMouseUp(event);
    afterMouseEvent(control);
}

bool CFrame::onWheel(const CMouseEvent& event, float distance)
{
    if (m_pModal)
        return true;
    CControl* control = getViewAt(event.where);
    if (control == nullptr || !control->onWheel(event, distance))
        return false;
    afterMouseEvent(control);
    return true;
}

} // namespace corvex::gui
