#include "TunerPanel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

namespace corvex {

using gui::CColor;
using gui::CRect;

namespace {

// Everything in layout pixels from the control's corner.
constexpr int kRim = 2;
constexpr int kLabelBaseline = 17;
constexpr int kNoteBaseline = 50;  // the note name, at twice the font's size
constexpr int kScaleLeft = 30;
constexpr int kScaleRight = 530;   // 5 pixels a cent
constexpr int kScaleTop = 62;
constexpr int kScaleBottom = 92;
constexpr int kNeedleOver = 4;     // beyond the scale, above and below
constexpr int kTickEvery = 10;     // cents
constexpr int kTickLength = 5;
constexpr int kScaleLabelBaseline = 106;
constexpr int kMuteBaseline = 124;
constexpr int kBox = 11;           // the mute box and the reference buttons' glyph boxes
constexpr int kMuteLeft = 14;
constexpr int kReferenceRight = 546;
constexpr int kReferenceButton = 18;
constexpr int kReferenceTextWidth = 96;
constexpr int kBigFactor = 2;

constexpr CColor kButtonTop{214, 214, 210, 255};
constexpr CColor kButtonBottom{150, 150, 146, 255};
constexpr CColor kButtonText{40, 40, 40, 255};
constexpr CColor kButtonLitText{255, 176, 56, 255};
constexpr CColor kButtonLit{46, 42, 36, 255};

// An RGB image at `scale` device pixels per layout pixel, drawn in layout pixels.
struct Canvas {
    std::vector<std::uint8_t>& image;
    int width;  // device pixels
    int height;
    int scale;

    void fill(int x, int y, int w, int h, CColor c) const
    {
        const int x0 = std::max(0, x * scale), y0 = std::max(0, y * scale);
        const int x1 = std::min(width, (x + w) * scale), y1 = std::min(height, (y + h) * scale);
        for (int py = y0; py < y1; ++py)
            for (int px = x0; px < x1; ++px) {
                std::uint8_t* p = &image[(std::size_t(py) * std::size_t(width) + std::size_t(px)) * 3];
                p[0] = c.red;
                p[1] = c.green;
                p[2] = c.blue;
            }
    }
    void frame(int x, int y, int w, int h, int t, CColor c) const
    {
        fill(x, y, w, t, c);
        fill(x, y + h - t, w, t, c);
        fill(x, y, t, h, c);
        fill(x + w - t, y, t, h, c);
    }
    void text(const gui::CBitmapFont& font, int x, int baseline, const std::u32string& s, CColor c) const
    {
        font.draw(image, width, height, scale, x, baseline, s, c);
    }
    // At kBigFactor times the font's size: drawn from the double-size glyphs, each pixel of which
    // covers `scale` device pixels.
    void bigText(const gui::CBitmapFont& font, int x, int baseline, const std::u32string& s, CColor c) const
    {
        const int tw = (font.width(s) + gui::kFontCellWidth) * kBigFactor, th = gui::kFontCellHeight * kBigFactor;
        std::vector<std::uint8_t> glyphs(std::size_t(tw) * std::size_t(th) * 3, 0);
        font.draw(glyphs, tw, th, kBigFactor, gui::kFontPenX, gui::kFontBaseline, s, {255, 255, 255, 255});
        const int left = x * scale, top = (baseline - gui::kFontBaseline * kBigFactor) * scale;
        for (int v = 0; v < th * scale; ++v)
            for (int u = 0; u < tw * scale; ++u) {
                const int px = left + u, py = top + v;
                const unsigned a = glyphs[(std::size_t(v / scale) * std::size_t(tw) + std::size_t(u / scale)) * 3];
                if (a == 0 || px < 0 || py < 0 || px >= width || py >= height)
                    continue;
                std::uint8_t* p = &image[(std::size_t(py) * std::size_t(width) + std::size_t(px)) * 3];
                const std::uint8_t rgb[3] = {c.red, c.green, c.blue};
                for (int ch = 0; ch < 3; ++ch)
                    p[ch] = std::uint8_t((p[ch] * (255 - a) + rgb[ch] * a + 127) / 255);
            }
    }
};

std::u32string Text(const char* s)
{
    return gui::CBitmapFont::Decode(s);
}

// A composed drawing at 1x with its 2x twin.
std::unique_ptr<gui::CBitmap> Compose(int w, int h, const std::function<void(const Canvas&)>& draw)
{
    std::vector<std::uint8_t> single(std::size_t(w) * std::size_t(h) * 3, 0);
    std::vector<std::uint8_t> doubled(std::size_t(w) * std::size_t(h) * 12, 0);
    draw(Canvas{single, w, h, 1});
    draw(Canvas{doubled, 2 * w, 2 * h, 2});
    return std::make_unique<gui::CBitmap>(w, h, std::move(single),
                                          std::make_unique<gui::CBitmap>(2 * w, 2 * h, std::move(doubled)));
}

} // namespace

CTunerButton::CTunerButton(const CRect& size, gui::CControlListener* listener, int tag,
                           std::shared_ptr<const gui::CBitmapFont> font)
    : CControl(size, listener, tag, nullptr), m_pFont(std::move(font))
{
    compose();
}

void CTunerButton::setValue(float value)
{
    const bool changed = (value >= 0.5f) != (getValue() >= 0.5f);
    CControl::setValue(value);
    if (changed)
        compose();
}

bool CTunerButton::onMouseDown(const gui::CMouseEvent& /*event*/)
{
    return true;
}

void CTunerButton::onMouseUp(const gui::CMouseEvent& event)
{
    if (!getViewSize().pointInside(event.where))
        return;
    setValue(getValue() >= 0.5f ? 0.0f : 1.0f);
    reportValueChanged();
}

void CTunerButton::compose()
{
    const int w = getViewSize().width(), h = getViewSize().height();
    const bool lit = getValue() >= 0.5f;
    const std::u32string label = Text("TUNER");
    m_pComposed = Compose(w, h, [&](const Canvas& c) {
        // The About button's brushed plate: light at the top, darker below; lit, a dark plate with
        // an amber legend.
        for (int y = 0; y < h; ++y) {
            const double t = double(y) / (h - 1);
            const auto mix = [t](std::uint8_t a, std::uint8_t b) { return std::uint8_t(a + (b - a) * t + 0.5); };
            c.fill(0, y, w, 1,
                   lit ? kButtonLit
                       : CColor{mix(kButtonTop.red, kButtonBottom.red), mix(kButtonTop.green, kButtonBottom.green),
                                mix(kButtonTop.blue, kButtonBottom.blue), 255});
        }
        c.frame(0, 0, w, h, 1, CTunerPanel::kRimColor);
        c.text(*m_pFont, (w - m_pFont->width(label)) / 2, (h + gui::kFontBaseline) / 2 - 1, label,
               lit ? kButtonLitText : kButtonText);
    });
    setDirty();
}

void CTunerButton::drawControl(gui::COffscreenContext& context)
{
    context.drawBitmap(*m_pComposed, getViewSize());
}

CTunerPanel::CTunerPanel(const CRect& size, gui::CControlListener* listener, int tag, gui::SharedBitmap background,
                         std::shared_ptr<const gui::CBitmapFont> font)
    : CControl(size, listener, tag, std::move(background)), m_pFont(std::move(font))
{
    compose();
}

void CTunerPanel::setShown(bool shown)
{
    if (shown != m_bShown) {
        m_bShown = shown;
        setDirty();
    }
}

void CTunerPanel::setReading(const PitchReading& reading)
{
    m_reading = reading;
    compose();
}

void CTunerPanel::setReference(double hertz)
{
    m_dReference = hertz;
    compose();
}

void CTunerPanel::setMute(bool mute)
{
    m_bMute = mute;
    compose();
}

CRect CTunerPanel::muteRect() const
{
    const CRect& r = getViewSize();
    return CRect::FromSize(r.left + kMuteLeft - 4, r.top + kMuteBaseline - kBox - 3,
                           kBox + 12 + m_pFont->width(Text(kMuteLabel)), kBox + 8);
}

CRect CTunerPanel::referenceDownRect() const
{
    const CRect& r = getViewSize();
    return CRect::FromSize(r.left + kReferenceRight - 2 * kReferenceButton - kReferenceTextWidth, r.top + 4,
                           kReferenceButton, kReferenceButton);
}

CRect CTunerPanel::referenceUpRect() const
{
    const CRect& r = getViewSize();
    return CRect::FromSize(r.left + kReferenceRight - kReferenceButton, r.top + 4, kReferenceButton, kReferenceButton);
}

CTunerPanel::Action CTunerPanel::actionAt(gui::CPoint where) const
{
    if (muteRect().pointInside(where))
        return Action::Mute;
    if (referenceDownRect().pointInside(where))
        return Action::ReferenceDown;
    if (referenceUpRect().pointInside(where))
        return Action::ReferenceUp;
    return Action::None;
}

CTunerPanel::Action CTunerPanel::takeAction()
{
    const Action action = m_action;
    m_action = Action::None;
    return action;
}

bool CTunerPanel::onMouseDown(const gui::CMouseEvent& event)
{
    if (!m_bShown)
        return false;
    m_pressed = actionAt(event.where);
    return true;
}

void CTunerPanel::onMouseUp(const gui::CMouseEvent& event)
{
    const Action pressed = m_pressed;
    m_pressed = Action::None;
    if (pressed == Action::None || actionAt(event.where) != pressed)
        return;
    m_action = pressed;
    reportValueChanged();
}

void CTunerPanel::drawInto(std::vector<std::uint8_t>& image, int scale) const
{
    const int w = getViewSize().width(), h = getViewSize().height();
    const Canvas c{image, w * scale, h * scale, scale};
    const gui::CBitmapFont& font = *m_pFont;
    const CRect& r = getViewSize();
    const auto local = [&r](const CRect& on) { return CRect{on.left - r.left, on.top - r.top, on.right - r.left, on.bottom - r.top}; };
    const auto centred = [&](int middle, int baseline, const std::u32string& s, CColor color) {
        c.text(font, middle - font.width(s) / 2, baseline, s, color);
    };
    c.fill(0, 0, w, h, kPlateColor);
    c.frame(0, 0, w, h, kRim, kRimColor);
    c.text(font, kMuteLeft, kLabelBaseline, Text("TUNER"), kDimColor);

    char text[32];
    // A4 with its buttons.
    const CRect down = local(referenceDownRect()), up = local(referenceUpRect());
    for (const CRect& b : {down, up})
        c.frame(b.left, b.top, b.width(), b.height(), 1, kDimColor);
    centred((down.left + down.right) / 2, kLabelBaseline - 1, Text("\xE2\x80\x93"), kTextColor);
    centred((up.left + up.right) / 2, kLabelBaseline - 1, Text("+"), kTextColor);
    std::snprintf(text, sizeof text, "A4 = %.0f Hz", m_dReference);
    centred((down.right + up.left) / 2, kLabelBaseline, Text(text), kTextColor);

    // The scale: the in-tune zone, ticks every 10 cents, the needle.
    const auto xOf = [](double cents) {
        return int(std::lround(kScaleLeft + (cents + 50.0) * (kScaleRight - kScaleLeft) / 100.0));
    };
    const bool inTuneNow = inTune();
    c.fill(kScaleLeft, kScaleTop, kScaleRight - kScaleLeft, kScaleBottom - kScaleTop, {12, 12, 11, 255});
    c.fill(xOf(-kInTuneCents), kScaleTop, xOf(kInTuneCents) - xOf(-kInTuneCents) + 1, kScaleBottom - kScaleTop,
           inTuneNow ? kInTuneColor : kZoneColor);
    for (int cents = -50; cents <= 50; cents += kTickEvery) {
        const int length = cents == 0 ? 2 * kTickLength : kTickLength;
        c.fill(xOf(cents), kScaleTop, 1, length, kDimColor);
        c.fill(xOf(cents), kScaleBottom - length, 1, length, kDimColor);
    }
    centred(xOf(-50), kScaleLabelBaseline, Text("\xE2\x80\x93" "50"), kDimColor);
    centred(xOf(0), kScaleLabelBaseline, Text("0"), kDimColor);
    centred(xOf(50), kScaleLabelBaseline, Text("+50"), kDimColor);

    if (m_reading.bPitched) {
        const int x = xOf(std::clamp(m_reading.dCents, -50.0, 50.0));
        c.fill(x - 1, kScaleTop - kNeedleOver, 3, kScaleBottom - kScaleTop + 2 * kNeedleOver,
               inTuneNow ? kInTuneColor : kTextColor);
        char name[5];
        CPitchDetector::NoteName(m_reading.iNote, name);
        const std::u32string note = Text(name);
        c.bigText(font, w / 2 - font.width(note) * kBigFactor / 2, kNoteBaseline, note,
                  inTuneNow ? kInTuneColor : kTextColor);
        std::snprintf(text, sizeof text, "%.2f Hz", m_reading.dHertz);
        const std::u32string hertz = Text(text);
        c.text(font, w / 2 - 60 - font.width(hertz), kNoteBaseline - 4, hertz, kTextColor);
        std::snprintf(text, sizeof text, "%+.1f cents", m_reading.dCents);
        c.text(font, w / 2 + 60, kNoteBaseline - 4, Text(text), kTextColor);
    } else {
        const std::u32string dash = Text("\xE2\x80\x93");
        c.bigText(font, w / 2 - font.width(dash) * kBigFactor / 2, kNoteBaseline, dash, kDimColor);
    }

    // The mute toggle.
    const int boxTop = kMuteBaseline - kBox + 1;
    c.frame(kMuteLeft, boxTop, kBox, kBox, 1, kTextColor);
    if (m_bMute)
        c.fill(kMuteLeft + 3, boxTop + 3, kBox - 6, kBox - 6, kButtonLitText);
    c.text(font, kMuteLeft + kBox + 6, kMuteBaseline, Text(kMuteLabel), m_bMute ? kTextColor : kDimColor);
}

void CTunerPanel::compose()
{
    m_pComposed = Compose(getViewSize().width(), getViewSize().height(),
                          [this](const Canvas& c) { drawInto(c.image, c.scale); });
    setDirty();
}

void CTunerPanel::drawControl(gui::COffscreenContext& context)
{
    const CRect& r = getViewSize();
    if (m_bShown)
        context.drawBitmap(*m_pComposed, r);
    else if (getBackground())
        context.drawBitmap(*getBackground(), r, {r.left, r.top});
}

} // namespace corvex
