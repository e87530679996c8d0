#pragma once

#include "gui/BitmapFont.h"
#include "gui/Control.h"
#include "tuner/PitchDetector.h"

#include <memory>

namespace corvex {

// The TUNER button of the top band: lit while the tuner shows. A click reports through
// valueChanged, with the value it asks for (1: show).
class CTunerButton : public gui::CControl {
public:
    CTunerButton(const gui::CRect& size, gui::CControlListener* listener, int tag,
                 std::shared_ptr<const gui::CBitmapFont> font);
    void setValue(float value) override;
    bool onMouseDown(const gui::CMouseEvent& event) override;
    void onMouseUp(const gui::CMouseEvent& event) override;

protected:
    void drawControl(gui::COffscreenContext& context) override;

private:
    void compose();
    std::shared_ptr<const gui::CBitmapFont> m_pFont;
    std::unique_ptr<gui::CBitmap> m_pComposed;
};

// The tuner over the speaker grille: the note, a needle over +-50 cents with the in-tune zone
// lit when the needle is in it, the frequency and cents, A4 with - and + to change it, and the
// "mute while tuning" toggle. Hidden, it shows the frame's background (the grille) under it and
// takes no clicks. Clicks report through valueChanged; takeAction() says which.
class CTunerPanel : public gui::CControl {
public:
    enum class Action { None, Mute, ReferenceDown, ReferenceUp };

    static constexpr double kInTuneCents = 2.0;
    static constexpr const char* kMuteLabel = "Mute while tuning";
    static constexpr gui::CColor kPlateColor{22, 21, 19, 255};
    static constexpr gui::CColor kRimColor{150, 142, 124, 255};
    static constexpr gui::CColor kTextColor{242, 232, 204, 255};
    static constexpr gui::CColor kDimColor{150, 142, 124, 255};
    static constexpr gui::CColor kZoneColor{44, 86, 52, 255};
    static constexpr gui::CColor kInTuneColor{96, 220, 120, 255};

    // background: the frame's, shown while hidden.
    CTunerPanel(const gui::CRect& size, gui::CControlListener* listener, int tag, gui::SharedBitmap background,
                std::shared_ptr<const gui::CBitmapFont> font);

    void setShown(bool shown);
    bool isShown() const { return m_bShown; }
    void setReading(const PitchReading& reading);
    void setReference(double hertz);
    void setMute(bool mute);
    // The needle's position (0 at -50 cents, 1 at +50), or -1 when nothing is read.
    double needle() const { return m_reading.bPitched ? (m_reading.dCents + 50.0) / 100.0 : -1.0; }
    bool inTune() const { return m_reading.bPitched && std::abs(m_reading.dCents) <= kInTuneCents; }
    // The clickable parts, on the frame.
    gui::CRect muteRect() const;
    gui::CRect referenceDownRect() const;
    gui::CRect referenceUpRect() const;
    Action takeAction();

    bool onMouseDown(const gui::CMouseEvent& event) override;
    void onMouseUp(const gui::CMouseEvent& event) override;

protected:
    void drawControl(gui::COffscreenContext& context) override;

private:
    Action actionAt(gui::CPoint where) const;
    void compose();
    void drawInto(std::vector<std::uint8_t>& image, int scale) const;

    std::shared_ptr<const gui::CBitmapFont> m_pFont;
    std::unique_ptr<gui::CBitmap> m_pComposed;
    bool m_bShown = false;
    bool m_bMute = true;
    double m_dReference = CPitchDetector::kDefaultReference;
    PitchReading m_reading;
    Action m_pressed = Action::None;
    Action m_action = Action::None;
};

} // namespace corvex
