// PNG decoding and encoding through libpng's simplified interface (Linux builds).

#include "Bitmap.h"

#include <png.h>

#include <cstring>

namespace corvex::gui {

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
