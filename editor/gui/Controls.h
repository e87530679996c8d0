#pragma once

#include "Control.h"

namespace corvex::gui {

// Two-image switch (off above, on below). On for any non-zero value; a press toggles it.
class COnOffButton final : public CControl {
public:
    COnOffButton(const CRect& size, CControlListener* listener, int tag, SharedBitmap bitmap);

    bool onMouseDown(const CMouseEvent& event) override;

private:
    void drawControl(COffscreenContext& context) override;
};

// Rotary knob drawn from a vertical strip of sub-images. A vertical drag turns it (upwards
// raises the value, Shift for fine steps), and so does the wheel. A double-click or Ctrl+click
// goes to the listener's controlModifierClicked first.
class CAnimKnob final : public CControl {
public:
    static constexpr float kDragPixelsFullScale = 200.0f; // drag distance from 0 to 1
    static constexpr float kFineFactor = 0.1f;            // Shift slows dragging and wheeling
    static constexpr float kWheelStep = 0.05f;            // value change per wheel notch

    CAnimKnob(const CRect& size, CControlListener* listener, int tag, int subPixmaps, int heightOfOneImage,
              SharedBitmap bitmap, CPoint offset = {});

    bool onMouseDown(const CMouseEvent& event) override;
    void onMouseMoved(const CMouseEvent& event) override;
    void onMouseUp(const CMouseEvent& event) override;
    bool onWheel(const CMouseEvent& event, float distance) override;

private:
    void drawControl(COffscreenContext& context) override;
    void moveTo(float value);

    int m_iSubPixmaps;
    int m_iHeightOfOneImage;
    bool m_bDragging = false;
    int m_iLastY = 0;
};

// Momentary button: 1 while pressed, 0 once released (or dragged off).
class CKickButton final : public CControl {
public:
    CKickButton(const CRect& size, CControlListener* listener, int tag, SharedBitmap bitmap, CPoint offset = {});

    bool onMouseDown(const CMouseEvent& event) override;
    void onMouseMoved(const CMouseEvent& event) override;
    void onMouseUp(const CMouseEvent& event) override;

private:
    void drawControl(COffscreenContext& context) override;
    void press(bool pressed);
};

// Display-only strip of sub-images, such as a two-image LED.
class CMovieBitmap final : public CControl {
public:
    CMovieBitmap(const CRect& size, CControlListener* listener, int tag, int subPixmaps, int heightOfOneImage,
                 SharedBitmap bitmap, CPoint offset = {});

private:
    void drawControl(COffscreenContext& context) override;

    int m_iSubPixmaps;
    int m_iHeightOfOneImage;
};

// Horizontal segment meter: the on bitmap over the lit segments from the left, the off bitmap
// over the rest. It follows a rising value at once and falls by at most kDecreaseStep per redraw.
class CVuMeter final : public CControl {
public:
    static constexpr float kDecreaseStep = 0.1f;

    CVuMeter(const CRect& size, SharedBitmap onBitmap, SharedBitmap offBitmap, int nbLed);

    bool isDirty() const override;
    float getDisplayedValue() const { return m_fShown; }
    int getLitSegments() const;

private:
    void drawControl(COffscreenContext& context) override;

    SharedBitmap m_pOnBitmap;
    SharedBitmap m_pOffBitmap;
    int m_iNbLed;
    float m_fShown = 0.0f;
};

// A modal panel: a bitmap with an OK button drawn from a two-image strip (up above, pressed
// below). It takes every press; releasing the button over OK closes it (see CFrame::openModal).
// Its value is 1 while OK is held down.
class CDialogPanel final : public CControl {
public:
    CDialogPanel(const CRect& size, CControlListener* listener, int tag, SharedBitmap panel, const CRect& okButton,
                 SharedBitmap okBitmap);

    const CRect& getOkButton() const { return m_rOkButton; }
    bool isClosed() const override { return m_bClosed; }

    bool onMouseDown(const CMouseEvent& event) override;
    void onMouseMoved(const CMouseEvent& event) override;
    void onMouseUp(const CMouseEvent& event) override;

protected:
    void drawControl(COffscreenContext& context) override;

private:
    CRect m_rOkButton;
    SharedBitmap m_pOkBitmap;
    bool m_bTracking = false;
    bool m_bClosed = false;
};

} // namespace corvex::gui
