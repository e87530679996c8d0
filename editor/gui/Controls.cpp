#include "Controls.h"

#include <algorithm>
#include <cmath>

namespace corvex::gui {

namespace {

float Clamp01(float value)
{
    return value > 0.0f ? std::min(value, 1.0f) : 0.0f; // NaN becomes 0
}

} // namespace

COnOffButton::COnOffButton(const CRect& size, CControlListener* listener, int tag, SharedBitmap bitmap)
    : CControl(size, listener, tag, std::move(bitmap))
{
}

bool COnOffButton::onMouseDown(const CMouseEvent& /*event*/)
{
    setValue(getValue() != 0.0f ? 0.0f : 1.0f);
    if (CControlListener* listener = getListener()) {
        listener->controlBeginEdit(this);
        listener->valueChanged(this);
        listener->controlEndEdit(this);
    }
    return true;
}

void COnOffButton::drawControl(COffscreenContext& context)
{
    drawSubImage(context, getValue() != 0.0f ? 1 : 0, getViewSize().height());
}

CAnimKnob::CAnimKnob(const CRect& size, CControlListener* listener, int tag, int subPixmaps,
                     int heightOfOneImage, SharedBitmap bitmap, CPoint /*offset*/)
    : CControl(size, listener, tag, std::move(bitmap)), m_iSubPixmaps(subPixmaps),
      m_iHeightOfOneImage(heightOfOneImage)
{
}

void CAnimKnob::moveTo(float value)
{
    value = Clamp01(value);
    if (value == getValue())
        return;
    setValue(value);
    reportValueChanged();
}

bool CAnimKnob::onMouseDown(const CMouseEvent& event)
{
    if (event.clickCount > 1 || (event.modifiers & kControl) != 0)
        if (CControlListener* listener = getListener(); listener != nullptr && listener->controlModifierClicked(this, event))
            return true;
    m_bDragging = true;
    m_iLastY = event.where.y;
    if (CControlListener* listener = getListener())
        listener->controlBeginEdit(this);
    return true;
}

void CAnimKnob::onMouseMoved(const CMouseEvent& event)
{
    if (!m_bDragging)
        return;
    const float scale = (event.modifiers & kShift) != 0 ? kFineFactor : 1.0f;
    const float delta = float(m_iLastY - event.where.y) / kDragPixelsFullScale * scale;
    m_iLastY = event.where.y;
    moveTo(Clamp01(getValue()) + delta);
}

void CAnimKnob::onMouseUp(const CMouseEvent& event)
{
    if (!m_bDragging)
        return;
    onMouseMoved(event);
    m_bDragging = false;
    if (CControlListener* listener = getListener())
        listener->controlEndEdit(this);
}

bool CAnimKnob::onWheel(const CMouseEvent& event, float distance)
{
    const float scale = (event.modifiers & kShift) != 0 ? kFineFactor : 1.0f;
    CControlListener* listener = getListener();
    if (listener != nullptr)
        listener->controlBeginEdit(this);
    moveTo(Clamp01(getValue()) + distance * kWheelStep * scale);
    if (listener != nullptr)
        listener->controlEndEdit(this);
    return true;
}

void CAnimKnob::drawControl(COffscreenContext& context)
{
    drawSubImage(context, SubImageIndex(getValue(), m_iSubPixmaps), m_iHeightOfOneImage);
}

CKickButton::CKickButton(const CRect& size, CControlListener* listener, int tag, SharedBitmap bitmap,
                         CPoint /*offset*/)
    : CControl(size, listener, tag, std::move(bitmap))
{
}

void CKickButton::press(bool pressed)
{
    const float value = pressed ? 1.0f : 0.0f;
    if (value == getValue())
        return;
    setValue(value);
    reportValueChanged();
}

bool CKickButton::onMouseDown(const CMouseEvent& /*event*/)
{
    if (CControlListener* listener = getListener())
        listener->controlBeginEdit(this);
    press(true);
    return true;
}

void CKickButton::onMouseMoved(const CMouseEvent& event)
{
    // Dragging off the button lets go of it without a click.
    if (getValue() != 0.0f && !getViewSize().pointInside(event.where))
        press(false);
}

void CKickButton::onMouseUp(const CMouseEvent& /*event*/)
{
    press(false);
    if (CControlListener* listener = getListener())
        listener->controlEndEdit(this);
}

void CKickButton::drawControl(COffscreenContext& context)
{
    drawSubImage(context, 0, getViewSize().height());
}

CMovieBitmap::CMovieBitmap(const CRect& size, CControlListener* listener, int tag, int subPixmaps,
                           int heightOfOneImage, SharedBitmap bitmap, CPoint /*offset*/)
    : CControl(size, listener, tag, std::move(bitmap)), m_iSubPixmaps(subPixmaps),
      m_iHeightOfOneImage(heightOfOneImage)
{
}

void CMovieBitmap::drawControl(COffscreenContext& context)
{
    drawSubImage(context, SubImageIndex(getValue(), m_iSubPixmaps), m_iHeightOfOneImage);
}

CVuMeter::CVuMeter(const CRect& size, SharedBitmap onBitmap, SharedBitmap offBitmap, int nbLed)
    : CControl(size, nullptr, 0, offBitmap), m_pOnBitmap(std::move(onBitmap)), m_pOffBitmap(std::move(offBitmap)),
      m_iNbLed(nbLed > 0 ? nbLed : 1)
{
}

bool CVuMeter::isDirty() const
{
    return CControl::isDirty() || m_fShown != Clamp01(getValue());
}

int CVuMeter::getLitSegments() const
{
    return std::clamp(int(float(m_iNbLed) * m_fShown + 0.5f), 0, m_iNbLed);
}

void CVuMeter::drawControl(COffscreenContext& context)
{
    m_fShown = std::max(Clamp01(getValue()), m_fShown - kDecreaseStep);
    if (m_fShown < 0.0f)
        m_fShown = 0.0f;
    const CRect& size = getViewSize();
    const int litWidth = getLitSegments() * size.width() / m_iNbLed;
    const CRect lit{size.left, size.top, size.left + litWidth, size.bottom};
    const CRect unlit{size.left + litWidth, size.top, size.right, size.bottom};
    if (m_pOnBitmap)
        context.drawBitmap(*m_pOnBitmap, lit);
    if (m_pOffBitmap)
        context.drawBitmap(*m_pOffBitmap, unlit, CPoint{litWidth, 0});
}

CDialogPanel::CDialogPanel(const CRect& size, CControlListener* listener, int tag, SharedBitmap panel,
                           const CRect& okButton, SharedBitmap okBitmap)
    : CControl(size, listener, tag, std::move(panel)), m_rOkButton(okButton), m_pOkBitmap(std::move(okBitmap))
{
}

bool CDialogPanel::onMouseDown(const CMouseEvent& event)
{
    // Presses elsewhere are swallowed: the panel is modal.
    m_bTracking = !m_bClosed && m_rOkButton.pointInside(event.where);
    setValue(m_bTracking ? 1.0f : 0.0f);
    return true;
}

void CDialogPanel::onMouseMoved(const CMouseEvent& event)
{
    if (m_bTracking)
        setValue(m_rOkButton.pointInside(event.where) ? 1.0f : 0.0f);
}

void CDialogPanel::onMouseUp(const CMouseEvent& event)
{
    if (!m_bTracking)
        return;
    m_bTracking = false;
    setValue(0.0f);
    if (m_rOkButton.pointInside(event.where)) {
        m_bClosed = true;
        reportValueChanged();
    }
}

void CDialogPanel::drawControl(COffscreenContext& context)
{
    drawSubImage(context, 0, getViewSize().height());
    if (m_pOkBitmap)
        context.drawBitmap(*m_pOkBitmap, m_rOkButton, CPoint{0, getValue() != 0.0f ? m_rOkButton.height() : 0});
}

} // namespace corvex::gui
