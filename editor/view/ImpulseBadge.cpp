#include "ImpulseBadge.h"

#include "EditorLayout.h"

namespace corvex {

using gui::CRect;

namespace {

// Baselines of the two lines and of the clear button's glyph, from the badge's top.
constexpr int kTitleBaseline = 17;
constexpr int kDetailBaseline = 32;
constexpr int kClearBaseline = 25;
constexpr char32_t kClearGlyph = 0xD7; // the multiplication sign

} // namespace

CImpulseBadge::CImpulseBadge(const CRect& size, gui::CControlListener* listener, int tag, gui::SharedBitmap plate,
                             std::shared_ptr<const gui::CBitmapFont> font)
    : CControl(size, listener, tag, std::move(plate)), m_pFont(std::move(font))
{
    setContent({}, {});
}

void CImpulseBadge::setContent(const std::string& name, const std::string& error)
{
    m_sName = name;
    m_sError = error;
    layOut();
}

void CImpulseBadge::setDropHover(bool hover)
{
    if (hover == m_bDropHover)
        return;
    m_bDropHover = hover;
    layOut();
}

void CImpulseBadge::layOut()
{
    // Both lines are centred between margins as wide as the clear button, so they stay put
    // whether it shows or not.
    const int textWidth = getViewSize().width() - 2 * editor::kImpulseClearWidth;
    m_bClear = !m_sName.empty();
    m_bError = !m_sError.empty() && !m_bDropHover;
    m_sTitle = m_pFont->fit(gui::CBitmapFont::Decode(m_sName.empty() ? kBuiltInTitle : m_sName), textWidth, true);
    const std::string detail = m_bDropHover ? kDropHint : m_bError ? m_sError : m_sName.empty() ? kHint : kLoadedHint;
    // A refusal's reason comes last, after the file's name: the middle goes.
    m_sDetail = m_pFont->fit(gui::CBitmapFont::Decode(detail), textWidth, true);
    compose();
    setDirty();
}

CRect CImpulseBadge::clearRect() const
{
    if (!m_bClear)
        return {};
    const CRect& r = getViewSize();
    return {r.right - editor::kImpulseClearWidth, r.top, r.right, r.bottom};
}

CImpulseBadge::Action CImpulseBadge::takeAction()
{
    const Action action = m_action;
    m_action = Action::None;
    return action;
}

bool CImpulseBadge::onMouseDown(const gui::CMouseEvent& event)
{
    m_pressed = clearRect().pointInside(event.where) ? Action::Clear : Action::Choose;
    return true;
}

void CImpulseBadge::onMouseUp(const gui::CMouseEvent& event)
{
    // Like a button: the click counts when released over the part it was pressed on.
    const Action pressed = m_pressed;
    m_pressed = Action::None;
    const bool overClear = clearRect().pointInside(event.where);
    if (!getViewSize().pointInside(event.where) || (pressed == Action::Clear) != overClear)
        return;
    m_action = pressed;
    reportValueChanged();
}

void CImpulseBadge::drawText(std::vector<std::uint8_t>& image, int scale) const
{
    const CRect& r = getViewSize();
    const int w = r.width() * scale, h = r.height() * scale;
    const auto centred = [&](const std::u32string& text) { return (r.width() - m_pFont->width(text)) / 2; };
    m_pFont->draw(image, w, h, scale, centred(m_sTitle), kTitleBaseline, m_sTitle, kTitleColor);
    m_pFont->draw(image, w, h, scale, centred(m_sDetail), kDetailBaseline, m_sDetail,
                  m_bError ? kErrorColor : m_bDropHover ? kTitleColor : kHintColor);
    if (m_bClear) {
        const std::u32string cross(1, kClearGlyph);
        const int x = r.width() - editor::kImpulseClearWidth + (editor::kImpulseClearWidth - m_pFont->width(cross)) / 2;
        m_pFont->draw(image, w, h, scale, x, kClearBaseline, cross, kTitleColor);
    }
}

void CImpulseBadge::compose()
{
    const gui::SharedBitmap& plate = getBackground();
    const CRect& r = getViewSize();
    std::vector<std::uint8_t> single(std::size_t(r.width()) * std::size_t(r.height()) * 3, 0);
    if (plate && plate->getWidth() == r.width() && plate->getHeight() == r.height())
        single = plate->pixels();
    drawText(single, 1);
    std::unique_ptr<gui::CBitmap> doubled;
    if (const gui::CBitmap* platex2 = plate ? plate->getDoubleSize() : nullptr) {
        std::vector<std::uint8_t> pixels = platex2->pixels();
        drawText(pixels, 2);
        doubled = std::make_unique<gui::CBitmap>(platex2->getWidth(), platex2->getHeight(), std::move(pixels));
    }
    m_pComposed = std::make_unique<gui::CBitmap>(r.width(), r.height(), std::move(single), std::move(doubled));
}

void CImpulseBadge::drawControl(gui::COffscreenContext& context)
{
    if (m_pComposed)
        context.drawBitmap(*m_pComposed, getViewSize());
}

} // namespace corvex
