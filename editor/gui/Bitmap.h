#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace corvex::gui {

// A 24-bit RGB image, rows top to bottom, 3 bytes per pixel. Immutable once loaded.
class CBitmap {
public:
    // Decodes the module's resource `resourceId` drawn at `scale` (1, or 2 for its double-size
    // drawing); an unknown id or a bad image gives an empty bitmap.
    explicit CBitmap(int resourceId, int scale = 1);
    CBitmap(int width, int height, std::vector<std::uint8_t> rgb);
    // An image drawn in code, with its double-size drawing (null: none).
    CBitmap(int width, int height, std::vector<std::uint8_t> rgb, std::unique_ptr<CBitmap> doubleSize);

    bool isLoaded() const { return m_iWidth > 0 && m_iHeight > 0; }
    int getWidth() const { return m_iWidth; }
    int getHeight() const { return m_iHeight; }
    int getResourceId() const { return m_iResourceId; }
    const std::uint8_t* pixel(int x, int y) const { return &m_aPixels[(std::size_t(y) * m_iWidth + x) * 3]; }
    const std::vector<std::uint8_t>& pixels() const { return m_aPixels; }

    // The resource's double-size drawing, decoded on first use; null when there is none.
    const CBitmap* getDoubleSize() const;

private:
    int m_iResourceId = 0;
    int m_iScale = 1;
    mutable std::unique_ptr<CBitmap> m_pDoubleSize;
    mutable bool m_bDoubleSizeLoaded = false;
    int m_iWidth = 0;
    int m_iHeight = 0;
    std::vector<std::uint8_t> m_aPixels;
};

// Controls and the frame share their bitmaps; the last holder frees it.
using SharedBitmap = std::shared_ptr<const CBitmap>;

inline SharedBitmap LoadBitmap(int resourceId) { return std::make_shared<const CBitmap>(resourceId); }

// Decodes PNG bytes into 24-bit RGB; false on malformed data.
bool DecodePng(const unsigned char* data, std::size_t size, int& width, int& height,
               std::vector<std::uint8_t>& rgb);

// Encodes 24-bit RGB as PNG bytes; false on failure.
bool EncodePng(int width, int height, const std::vector<std::uint8_t>& rgb, std::vector<unsigned char>& png);

} // namespace corvex::gui
