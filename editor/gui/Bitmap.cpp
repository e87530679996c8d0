#include "Bitmap.h"

#include "Resources.h"

namespace corvex::gui {

CBitmap::CBitmap(int resourceId, int scale) : m_iResourceId(resourceId), m_iScale(scale)
{
    const BitmapResource* resource = FindBitmapResource(resourceId, scale);
    if (resource == nullptr || !DecodePng(reinterpret_cast<const unsigned char*>(resource->data), resource->size,
                                          m_iWidth, m_iHeight, m_aPixels)) {
        m_iWidth = m_iHeight = 0;
        m_aPixels.clear();
    }
}

CBitmap::CBitmap(int width, int height, std::vector<std::uint8_t> rgb)
    : m_iWidth(width), m_iHeight(height), m_aPixels(std::move(rgb))
{
    if (width <= 0 || height <= 0 || m_aPixels.size() != std::size_t(width) * height * 3) {
        m_iWidth = m_iHeight = 0;
        m_aPixels.clear();
    }
}

CBitmap::CBitmap(int width, int height, std::vector<std::uint8_t> rgb, std::unique_ptr<CBitmap> doubleSize)
    : CBitmap(width, height, std::move(rgb))
{
    m_bDoubleSizeLoaded = true;
    if (doubleSize && doubleSize->isLoaded() && doubleSize->getWidth() == 2 * m_iWidth &&
        doubleSize->getHeight() == 2 * m_iHeight)
        m_pDoubleSize = std::move(doubleSize);
}

const CBitmap* CBitmap::getDoubleSize() const
{
    if (!m_bDoubleSizeLoaded && m_iScale == 1 && m_iResourceId != 0) {
        m_bDoubleSizeLoaded = true;
        auto doubled = std::make_unique<CBitmap>(m_iResourceId, 2);
        if (doubled->isLoaded() && doubled->getWidth() == 2 * m_iWidth && doubled->getHeight() == 2 * m_iHeight)
            m_pDoubleSize = std::move(doubled);
    }
    return m_pDoubleSize.get();
}

} // namespace corvex::gui
