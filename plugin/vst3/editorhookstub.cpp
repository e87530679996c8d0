#include "editorhook.h"

namespace corvex {

Steinberg::IPlugView* CreateCorvexEditorView(CorvexController&)
{
    return nullptr;
}

} // namespace corvex
