#pragma once

#include "Bitmap.h"
#include "DrawContext.h"
#include "Geometry.h"

namespace corvex::gui {

enum Modifier : unsigned {
    kShift = 1u << 0,
    kControl = 1u << 1,
    kAlt = 1u << 2,
};

// A mouse event in frame coordinates, as the window layer delivers it.
struct CMouseEvent {
    CPoint where;
    unsigned modifiers = 0;
    int clickCount = 1; // 2 for the second press of a double-click
};

// The keys the editor acts on; every other key stays with the host.
enum class VirtualKey { Other, Up, Down, PageUp, PageDown, Escape, Menu };

struct CKeyEvent {
    VirtualKey key = VirtualKey::Other;
    unsigned modifiers = 0;
};

class CControl;

// Receives the edits a user makes on a control.
class CControlListener {
public:
    virtual ~CControlListener() = default;
    virtual void valueChanged(CControl* control) = 0;
    virtual void controlBeginEdit(CControl* /*control*/) {}
    virtual void controlEndEdit(CControl* /*control*/) {}
    // A double-click or a click with a modifier; true when the listener handled it, in which
    // case the control does not start its own gesture.
    virtual bool controlModifierClicked(CControl* /*control*/, const CMouseEvent& /*event*/) { return false; }
};

// A rectangle on the frame showing one value from a bitmap. The value is a float, normally in
// [0, 1]; controls draw out-of-range values at the nearest end of their range.
class CControl {
public:
    CControl(const CRect& size, CControlListener* listener, int tag, SharedBitmap background);
    virtual ~CControl() = default;
    CControl(const CControl&) = delete;
    CControl& operator=(const CControl&) = delete;

    const CRect& getViewSize() const { return m_rSize; }
    int getTag() const { return m_iTag; }
    CControlListener* getListener() const { return m_pListener; }
    const SharedBitmap& getBackground() const { return m_pBackground; }

    float getValue() const { return m_fValue; }
    virtual void setValue(float value) { m_fValue = value; }

    // True when the control would draw differently from its last drawing.
    virtual bool isDirty() const;
    void setDirty() { m_bDirty = true; }

    // Draws the whole control rectangle; the frame calls it once per repaint that touches it.
    void draw(COffscreenContext& context);

    // Mouse input; a control that accepts a press receives the moves and the release that follow.
    virtual bool onMouseDown(const CMouseEvent& /*event*/) { return false; }
    virtual void onMouseMoved(const CMouseEvent& /*event*/) {}
    virtual void onMouseUp(const CMouseEvent& /*event*/) {}
    virtual bool onWheel(const CMouseEvent& /*event*/, float /*distance*/) { return false; }
    // A modal panel that is done; the frame closes it once the event that finished it returns.
    virtual bool isClosed() const { return false; }

protected:
    virtual void drawControl(COffscreenContext& context) = 0;
    void reportValueChanged();
    // Draws sub-image `index` of a vertical strip of images each `imageHeight` tall.
    void drawSubImage(COffscreenContext& context, int index, int imageHeight);

private:
    CRect m_rSize;
    CControlListener* m_pListener;
    int m_iTag;
    SharedBitmap m_pBackground;
    float m_fValue = 0.0f;
    float m_fDrawnValue = 0.0f;
    bool m_bDirty = true;
};

// Index of the sub-image a value selects among `count`: the nearest of evenly spread steps over
// [0, 1], out-of-range and NaN values pinned to the ends.
int SubImageIndex(float value, int count);

} // namespace corvex::gui
