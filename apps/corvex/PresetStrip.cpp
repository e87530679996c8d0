#include "PresetStrip.h"

#include <algorithm>
#include <cstring>

#include "FactoryPresets.h"
#include "PresetFolder.h"
#include "StateLayout.h"

#include <X11/Xlib.h>

namespace corvex::live {

namespace {

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string Trimmed(const std::string& text)
{
    const auto begin = text.find_first_not_of(' ');
    return begin == std::string::npos ? std::string() : text.substr(begin, text.find_last_not_of(' ') - begin + 1);
}

} // namespace

CPresetStrip::CPresetStrip(std::string directory, Hooks hooks)
    : m_sDirectory(std::move(directory)), m_hooks(std::move(hooks))
{
    Reload();
}

void CPresetStrip::Reload()
{
    const std::string shown = Name();
    std::vector<std::string> skipped;
    m_aList = PresetList(ReadUserPresets(m_sDirectory, skipped));
    for (const std::string& message : skipped)
        if (m_aReported.insert(message).second && m_hooks.warn)
            m_hooks.warn(message);
    m_iCurrent = -1;
    Show(shown);
}

bool CPresetStrip::Show(const std::string& name)
{
    const PresetEntry* entry = name.empty() ? nullptr : FindPreset(m_aList, name);
    if (!entry)
        return false;
    m_iCurrent = static_cast<int>(entry - m_aList.data());
    return true;
}

std::string CPresetStrip::Name() const { return m_iCurrent >= 0 ? m_aList[static_cast<std::size_t>(m_iCurrent)].name : ""; }

bool CPresetStrip::IsFactory() const { return m_iCurrent >= 0 && !IsUser(); }

bool CPresetStrip::IsUser() const { return m_iCurrent >= 0 && !m_aList[static_cast<std::size_t>(m_iCurrent)].path.empty(); }

void CPresetStrip::Follow(const std::string& name)
{
    if (!Show(name))
        return;
    ++m_uRevision;
    if (m_hooks.chosen)
        m_hooks.chosen(Name());
}

void CPresetStrip::Step(int delta)
{
    if (m_mode != Mode::Browse || m_aList.empty())
        return;
    const int count = static_cast<int>(m_aList.size());
    // With none shown, Next starts at the first and Previous at the last.
    const int from = m_iCurrent >= 0 ? m_iCurrent : (delta > 0 ? -1 : count);
    const int to = ((from + delta) % count + count) % count;
    const PresetEntry& entry = m_aList[static_cast<std::size_t>(to)];
    if (!m_hooks.apply(entry.values)) {
        m_sMessage = "the plug-in refused " + Quoted(entry.name);
        return;
    }
    m_iCurrent = to;
    Chose(entry.name, {});
}

void CPresetStrip::Chose(const std::string& name, const std::string& message)
{
    // A saved name is its file's: characters no file system takes became '_'.
    if (!Show(name) && !Show(LegalFileName(name)))
        m_iCurrent = -1;
    m_sMessage = message;
    m_mode = Mode::Browse;
    m_pending = Pending::Nothing;
    if (m_hooks.chosen)
        m_hooks.chosen(Name());
}

void CPresetStrip::Ask(Pending pending, const std::string& prompt, Mode mode)
{
    m_pending = pending;
    m_sPrompt = prompt;
    m_mode = mode;
    m_sMessage.clear();
}

void CPresetStrip::Press(Action action)
{
    if (m_mode != Mode::Browse) {
        if (action == Action::Yes)
            Answer();
        else if (action == Action::No) {
            m_mode = Mode::Browse;
            m_pending = Pending::Nothing;
            m_sMessage.clear();
        }
        return;
    }
    switch (action) {
    case Action::Previous: Step(-1); break;
    case Action::Next: Step(1); break;
    case Action::Save:
        if (IsUser()) {
            m_sTarget = Name();
            Ask(Pending::Overwrite, "Overwrite " + Quoted(m_sTarget) + "?", Mode::Confirm);
            break;
        }
        [[fallthrough]]; // a factory preset stays as it is: its sound goes under a name of the user's
    case Action::SaveAs:
        m_sText = IsUser() ? Name() : std::string();
        Ask(Pending::SaveAs, "Save as:", Mode::Entry);
        break;
    case Action::Rename:
        if (!IsUser()) {
            m_sMessage = m_iCurrent >= 0 ? "a factory preset keeps its name" : "no preset to rename";
            break;
        }
        m_sText = Name();
        Ask(Pending::Rename, "Rename to:", Mode::Entry);
        break;
    case Action::Delete:
        if (!IsUser()) {
            m_sMessage = m_iCurrent >= 0 ? "a factory preset cannot be deleted" : "no preset to delete";
            break;
        }
        m_sTarget = Name();
        Ask(Pending::Delete, "Delete " + Quoted(m_sTarget) + "?", Mode::Confirm);
        break;
    case Action::Yes:
    case Action::No: break;
    }
}

void CPresetStrip::Answer()
{
    std::string error;
    const std::string name = Trimmed(m_sText);
    switch (m_pending) {
    case Pending::SaveAs: {
        // An existing preset of the user's, in any case, is overwritten only once confirmed, under
        // its own file name.
        const PresetEntry* existing = FindPreset(m_aList, name);
        if (existing && !existing->path.empty()) {
            m_sTarget = existing->name;
            Ask(Pending::Overwrite, "Overwrite " + Quoted(m_sTarget) + "?", Mode::Confirm);
            return;
        }
        if (!SaveUserPreset(m_sDirectory, name, m_hooks.controls(), false, error))
            break;
        Reload();
        Chose(name, "saved " + Quoted(name));
        return;
    }
    case Pending::Overwrite:
        if (!SaveUserPreset(m_sDirectory, m_sTarget, m_hooks.controls(), true, error))
            break;
        Reload();
        Chose(m_sTarget, "saved " + Quoted(m_sTarget));
        return;
    case Pending::Rename:
        if (!RenameUserPreset(m_sDirectory, Name(), name, error))
            break;
        Reload();
        Chose(name, "renamed to " + Quoted(name));
        return;
    case Pending::Delete:
        if (!DeleteUserPreset(m_sDirectory, m_sTarget, error))
            break;
        Reload();
        Chose({}, "deleted " + Quoted(m_sTarget));
        return;
    case Pending::Nothing: return;
    }
    // Refused: the name can be corrected; a confirmation has nothing left to ask.
    m_sMessage = error;
    if (m_mode == Mode::Confirm) {
        m_mode = Mode::Browse;
        m_pending = Pending::Nothing;
    }
}

void CPresetStrip::Type(const std::string& text)
{
    constexpr std::size_t kMaxName = 64;
    if (m_mode == Mode::Entry && m_sText.size() + text.size() <= kMaxName)
        m_sText += text;
}

void CPresetStrip::Erase()
{
    if (m_mode == Mode::Entry && !m_sText.empty())
        m_sText.pop_back();
}

std::vector<StripButton> StripLayout(const CPresetStrip& strip, int width)
{
    using Action = CPresetStrip::Action;
    constexpr int kArrow = 28, kButton = 72, kGap = 4;
    std::vector<StripButton> buttons;
    auto fromRight = [&](std::initializer_list<std::pair<Action, const char*>> list) {
        int x = width - kGap - static_cast<int>(list.size()) * (kButton + kGap) + kGap;
        for (const auto& [action, label] : list) {
            buttons.push_back({action, label, x, kButton});
            x += kButton + kGap;
        }
    };
    if (strip.CurrentMode() == CPresetStrip::Mode::Browse) {
        buttons.push_back({Action::Previous, "<", kGap, kArrow});
        buttons.push_back({Action::Next, ">", 2 * kGap + kArrow, kArrow});
        fromRight({{Action::Save, "Save"}, {Action::SaveAs, "Save as"}, {Action::Rename, "Rename"}, {Action::Delete, "Delete"}});
    } else if (strip.CurrentMode() == CPresetStrip::Mode::Confirm) {
        fromRight({{Action::Yes, "Yes"}, {Action::No, "No"}});
    } else {
        fromRight({{Action::Yes, "OK"}, {Action::No, "Cancel"}});
    }
    return buttons;
}

namespace {

// The panel's colours: near-black band, raised dark grey buttons, light text, amber for news.
constexpr unsigned kBandColor = 0x1a1a1c;
constexpr unsigned kButtonColor = 0x34343a;
constexpr unsigned kFieldColor = 0x0c0c0e;
constexpr unsigned kTextColor = 0xe6e6e6;
constexpr unsigned kDimColor = 0x8a8a8a;
constexpr unsigned kNewsColor = 0xe0a040;
constexpr int kInset = 4;     // buttons and field from the band's edges
constexpr int kTextLeft = 72; // the name after the arrows
constexpr int kNewsGap = 24;  // between the name and a message

} // namespace

CStripPainter::CStripPainter(_XDisplay* display, unsigned long window) : m_pDisplay(display), m_window(window)
{
    m_gc = XCreateGC(display, window, 0, nullptr);
    // "fixed" is the one font every X server has.
    XFontStruct* font = XLoadQueryFont(display, "-misc-fixed-medium-r-normal--13-*-*-*-*-*-iso8859-1");
    if (!font)
        font = XLoadQueryFont(display, "fixed");
    if (font)
        XSetFont(display, m_gc, font->fid);
    m_pFontStruct = font;
}

CStripPainter::~CStripPainter()
{
    if (m_pFontStruct)
        XFreeFont(m_pDisplay, static_cast<XFontStruct*>(m_pFontStruct));
    XFreeGC(m_pDisplay, m_gc);
}

unsigned long CStripPainter::Color(unsigned rgb)
{
    for (const auto& [known, pixel] : m_aColors)
        if (known == rgb)
            return pixel;
    XColor color{};
    color.red = static_cast<unsigned short>(((rgb >> 16) & 0xff) * 0x101);
    color.green = static_cast<unsigned short>(((rgb >> 8) & 0xff) * 0x101);
    color.blue = static_cast<unsigned short>((rgb & 0xff) * 0x101);
    color.flags = DoRed | DoGreen | DoBlue;
    const Colormap map = DefaultColormap(m_pDisplay, DefaultScreen(m_pDisplay));
    const unsigned long pixel =
        XAllocColor(m_pDisplay, map, &color) ? color.pixel : WhitePixel(m_pDisplay, DefaultScreen(m_pDisplay));
    m_aColors.emplace_back(rgb, pixel);
    return pixel;
}

void CStripPainter::Draw(const CPresetStrip& strip, int top, int width)
{
    XFontStruct* const font = static_cast<XFontStruct*>(m_pFontStruct);
    const int ascent = font ? font->ascent : 10;
    const int descent = font ? font->descent : 3;
    const int baseline = top + (kHeight + ascent - descent) / 2;
    auto text = [&](int x, const std::string& s, unsigned rgb) {
        XSetForeground(m_pDisplay, m_gc, Color(rgb));
        XDrawString(m_pDisplay, m_window, m_gc, x, baseline, s.c_str(), static_cast<int>(s.size()));
        return x + (font ? XTextWidth(font, s.c_str(), static_cast<int>(s.size())) : 6 * static_cast<int>(s.size()));
    };
    XSetForeground(m_pDisplay, m_gc, Color(kBandColor));
    XFillRectangle(m_pDisplay, m_window, m_gc, 0, top, static_cast<unsigned>(width), kHeight);

    const std::vector<StripButton> buttons = StripLayout(strip, width);
    for (const StripButton& button : buttons) {
        XSetForeground(m_pDisplay, m_gc, Color(kButtonColor));
        XFillRectangle(m_pDisplay, m_window, m_gc, button.x, top + kInset, static_cast<unsigned>(button.width),
                       kHeight - 2 * kInset);
        const bool factoryOnly = strip.IsFactory() && (button.action == CPresetStrip::Action::Rename ||
                                                       button.action == CPresetStrip::Action::Delete);
        const int labelWidth = font ? XTextWidth(font, button.label, static_cast<int>(std::strlen(button.label))) : 0;
        text(button.x + (button.width - labelWidth) / 2, button.label, factoryOnly ? kDimColor : kTextColor);
    }
    const int firstRight = buttons.empty() ? 0 : buttons[buttons.size() - (strip.CurrentMode() == CPresetStrip::Mode::Browse ? 4 : 2)].x;
    switch (strip.CurrentMode()) {
    case CPresetStrip::Mode::Browse: {
        const std::string position = strip.Index() >= 0 ? std::to_string(strip.Index() + 1) + "/" +
                                                               std::to_string(strip.List().size()) + "  "
                                                         : std::string();
        int x = text(kTextLeft, position, kDimColor);
        x = text(x, strip.Index() >= 0 ? strip.Name() : "(no preset)", strip.Index() >= 0 ? kTextColor : kDimColor);
        if (strip.IsFactory())
            x = text(x, "  factory", kDimColor);
        if (!strip.Message().empty())
            text(x + kNewsGap, strip.Message(), kNewsColor);
        break;
    }
    case CPresetStrip::Mode::Confirm:
        text(text(kInset * 2, strip.Prompt(), kTextColor) + kNewsGap, strip.Message(), kNewsColor);
        break;
    case CPresetStrip::Mode::Entry: {
        const int fieldLeft = text(kInset * 2, strip.Prompt(), kTextColor) + kInset * 2;
        XSetForeground(m_pDisplay, m_gc, Color(kFieldColor));
        XFillRectangle(m_pDisplay, m_window, m_gc, fieldLeft, top + kInset,
                       static_cast<unsigned>(std::max(0, firstRight - kInset - fieldLeft)), kHeight - 2 * kInset);
        const int end = text(fieldLeft + kInset, strip.Text(), kTextColor);
        XSetForeground(m_pDisplay, m_gc, Color(kTextColor));
        XFillRectangle(m_pDisplay, m_window, m_gc, end + 1, top + kInset + 3, 2, kHeight - 2 * kInset - 6); // the caret
        if (!strip.Message().empty())
            text(end + kNewsGap, strip.Message(), kNewsColor);
        break;
    }
    }
    XFlush(m_pDisplay);
}

void PrintPresets(std::FILE* out, const std::vector<PresetEntry>& list)
{
    for (const PresetEntry& preset : list) {
        const FactoryPreset* factory = preset.path.empty() ? FindFactoryPreset(preset.name) : nullptr;
        std::fprintf(out, "%-18s %s\n", preset.name.c_str(), factory ? factory->description : ("yours: " + preset.path).c_str());
    }
}

bool PutPresetControls(std::vector<unsigned char>& state, const PresetControls& values)
{
    if (state.size() < kStateSize)
        return false;
    for (std::size_t i = 0; i < values.size(); ++i)
        std::memcpy(&state[(kFirstParam + i) * kStateValueBytes], &values[i], kStateValueBytes);
    return true;
}

} // namespace corvex::live
