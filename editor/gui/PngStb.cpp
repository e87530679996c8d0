// PNG decoding and encoding through the stb single-file libraries, for builds with no libpng for
// the target (Windows cross builds). Same results as libpng for our 8-bit RGB artwork.

#include "Bitmap.h"

#include <climits>
#include <cstring>

#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include "stb_image.h"

#define STBI_WRITE_NO_STDIO
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include "stb_image_write.h"

namespace corvex::gui {

namespace {

constexpr int kChannels = 3;

void AppendBytes(void* context, void* data, int size)
{
    auto* out = static_cast<std::vector<unsigned char>*>(context);
    const auto* bytes = static_cast<const unsigned char*>(data);
    out->insert(out->end(), bytes, bytes + size);
}

} // namespace

bool DecodePng(const unsigned char* data, std::size_t size, int& width, int& height,
               std::vector<std::uint8_t>& rgb)
{
    if (data == nullptr || size > std::size_t(INT_MAX))
        return false;
    int w = 0, h = 0, channels = 0;
    stbi_uc* pixels = stbi_load_from_memory(data, int(size), &w, &h, &channels, kChannels);
    if (pixels == nullptr)
        return false;
    rgb.assign(pixels, pixels + std::size_t(w) * unsigned(h) * kChannels);
    stbi_image_free(pixels);
    width = w;
    height = h;
    return true;
}

bool EncodePng(int width, int height, const std::vector<std::uint8_t>& rgb, std::vector<unsigned char>& png)
{
    if (width <= 0 || height <= 0 || rgb.size() != std::size_t(width) * height * kChannels)
        return false;
    png.clear();
    return stbi_write_png_to_func(AppendBytes, &png, width, height, kChannels, rgb.data(), width * kChannels) != 0 &&
           !png.empty();
}

} // namespace corvex::gui
