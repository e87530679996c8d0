#pragma once

#include <cstddef>

namespace corvex::gui {

// A bitmap compiled into the module: PNG bytes under an integer resource id.
struct BitmapResource {
    int id;
    const unsigned char* data;
    std::size_t size;
};

// Provided by the module's resource table (the generated artwork); null for an unknown id.
const BitmapResource* FindBitmapResource(int id);

} // namespace corvex::gui
