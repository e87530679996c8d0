#pragma once

#include "Bitmap.h"
#include "Control.h"
#include "DrawContext.h"
#include "Geometry.h"

#include <memory>
#include <vector>

namespace corvex::gui {

// The root of a view: background colour and bitmap, the controls it owns, the region that needs
// repainting and the offscreen framebuffer it paints into. Knows nothing of windows: a window
// layer feeds it mouse events and copies out what redraw() repainted.
class CFrame {
public:
    static constexpr std::size_t kMaxDirtyRects = 16; // beyond this the region collapses to one rect

    // `size` in layout pixels; the framebuffer has `scale` device pixels per layout pixel.
    CFrame(const CRect& size, void* editor, double scale = 1.0);
    CFrame(const CFrame&) = delete;
    CFrame& operator=(const CFrame&) = delete;

    const CRect& getViewSize() const { return m_rSize; }
    void* getEditor() const { return m_pEditor; }

    void setBackgroundColor(CColor color);
    CColor getBackgroundColor() const { return m_cBackgroundColor; }
    void setBackground(SharedBitmap bitmap);

    // Takes ownership of `control`, which is drawn at the next redraw.
    CControl* addView(std::unique_ptr<CControl> control);
    std::size_t getNbViews() const { return m_aControls.size(); }
    CControl* getView(std::size_t index) const { return m_aControls[index].get(); }
    CControl* getViewAt(CPoint where) const;

    // Shows `panel` above every control; it takes all mouse input until it reports isClosed().
    // A panel already open is replaced.
    CControl* openModal(std::unique_ptr<CControl> panel);
    CControl* getModal() const { return m_pModal.get(); }
    void closeModal();

    void invalidRect(const CRect& rect);
    void invalidate() { invalidRect(m_rSize); }
    const std::vector<CRect>& getDirtyRegion() const { return m_aDirty; }

    // Adds every control whose value changed since it was drawn to the dirty region.
    void idle();
    // Paints the dirty region into the framebuffer and empties it; returns the painted bounds.
    CRect redraw();
    // The rectangles the last redraw() painted: what a window layer copies to the screen.
    const std::vector<CRect>& getPaintedRegion() const { return m_aPainted; }
    const COffscreenContext& getOffscreen() const { return m_offscreen; }
    // Control drawings so far, to show what a repaint touched.
    std::size_t getDrawCount() const { return m_iDrawCount; }

    bool onMouseDown(const CMouseEvent& event);
    void onMouseMoved(const CMouseEvent& event);
    void onMouseUp(const CMouseEvent& event);
    bool onWheel(const CMouseEvent& event, float distance);

private:
    // After `control` handled an event: show its new state, and close a finished modal panel.
    void afterMouseEvent(CControl* control);

    CRect m_rSize;
    void* m_pEditor;
    CColor m_cBackgroundColor;
    SharedBitmap m_pBackground;
    std::vector<std::unique_ptr<CControl>> m_aControls;
    std::vector<CRect> m_aDirty;
    std::vector<CRect> m_aPainted;
    std::unique_ptr<CControl> m_pModal;
    COffscreenContext m_offscreen;
    CControl* m_pMouseCapture = nullptr;
    std::size_t m_iDrawCount = 0;
};

} // namespace corvex::gui
