#include "Control.h"

#include <cmath>

namespace corvex::gui {

CControl::CControl(const CRect& size, CControlListener* listener, int tag, SharedBitmap background)
    : m_rSize(size), m_pListener(listener), m_iTag(tag), m_pBackground(std::move(background))
{
}

bool CControl::isDirty() const
{
    const bool same = m_fValue == m_fDrawnValue || (std::isnan(m_fValue) && std::isnan(m_fDrawnValue));
    return m_bDirty || !same;
}

void CControl::draw(COffscreenContext& context)
{
    drawControl(context);
    m_fDrawnValue = m_fValue;
    m_bDirty = false;
}

void CControl::reportValueChanged()
{
    if (m_pListener != nullptr)
        m_pListener->valueChanged(this);
}

void CControl::drawSubImage(COffscreenContext& context, int index, int imageHeight)
{
    if (m_pBackground)
        context.drawBitmap(*m_pBackground, m_rSize, CPoint{0, index * imageHeight});
}

int SubImageIndex(float value, int count)
{
    if (count <= 1 || !(value > 0.0f))
        return 0;
    if (value >= 1.0f)
        return count - 1;
    // In double so that values just below a half step never round up.
    return int(double(value) * (count - 1) + 0.5);
}

} // namespace corvex::gui
