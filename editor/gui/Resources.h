#pragma once

#include <cstddef>

namespace corvex::gui {

// A bitmap compiled into the module: PNG bytes under an integer resource id, drawn at `scale`
// device pixels per layout pixel (1, or 2 for the double-size set).
struct BitmapResource {
    int id;
    int scale;
    const char* data;
    std::size_t size;
};

// Provided by the module's resource table (the generated artwork); null for an unknown id or a
// scale it was not drawn at.
const BitmapResource* FindBitmapResource(int id, int scale = 1);

} // namespace corvex::gui
