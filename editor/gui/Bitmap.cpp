#include "Bitmap.h"

#include "Resources.h"

#include <png.h>

#include <cstdlib>
#include <cstring>

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

bool DecodePng(const unsigned char* data, std::size_t size, int& width, int& height,
               std::vector<std::uint8_t>& rgb)
{
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_memory(&image, data, size) == 0)
        return false;
    image.format = PNG_FORMAT_RGB;
    rgb.resize(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr) == 0) {
        png_image_free(&image);
        return false;
    }
    width = int(image.width);
    height = int(image.height);
    return true;
}

bool EncodePng(int width, int height, const std::vector<std::uint8_t>& rgb, std::vector<unsigned char>& png)
{
    if (width <= 0 || height <= 0 || rgb.size() != std::size_t(width) * height * 3)
        return false;
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = png_uint_32(width);
    image.height = png_uint_32(height);
    image.format = PNG_FORMAT_RGB;
    png_alloc_size_t bytes = 0;
    if (png_image_write_to_memory(&image, nullptr, &bytes, 0, rgb.data(), 0, nullptr) == 0)
        return false;
    png.resize(bytes);
    return png_image_write_to_memory(&image, png.data(), &bytes, 0, rgb.data(), 0, nullptr) != 0;
}

} // namespace corvex::gui
