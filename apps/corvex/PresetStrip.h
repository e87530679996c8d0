#pragma once

#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "UserPresets.h"

// Xlib's own names, declared so that its macros stay out of this header.
struct _XDisplay;
struct _XGC;

namespace corvex::live {

// The preset strip under the panel: the list (the factory presets, then the user's .vstpreset
// files), the preset shown, and the question or name the strip is asking for. The window draws it
// and hands it clicks and keys; all of it runs on the user-interface thread. Factory presets are
// never overwritten, renamed or deleted; the user's files change only once confirmed.
class CPresetStrip {
public:
    enum class Action { Previous, Next, Save, SaveAs, Rename, Delete, Yes, No };
    enum class Mode { Browse, Confirm, Entry };
    struct Hooks {
        std::function<bool(const PresetControls&)> apply; // a preset change to these controls
        std::function<PresetControls()> controls;         // the controls as they are now
        std::function<void(const std::string&)> chosen;   // the preset now shown ("" for none)
        std::function<void(const std::string&)> warn;     // a preset file skipped, once each
    };

    CPresetStrip(std::string directory, Hooks hooks);

    // Reads the user's folder again; each damaged or foreign file is reported once.
    void Reload();
    const std::vector<PresetEntry>& List() const { return m_aList; }
    // Shows `name` (any case) without applying it; false if the list has no such preset.
    bool Show(const std::string& name);
    // Shows `name` as a preset chosen elsewhere (Program Change) and remembers it; what the strip
    // is asking stays open.
    void Follow(const std::string& name);
    // Applies the preset `delta` places on (wrapping round the list) and shows it.
    void Step(int delta);
    void Press(Action action);
    // The name being typed: text appended, the last character taken back.
    void Type(const std::string& text);
    void Erase();

    Mode CurrentMode() const { return m_mode; }
    // The preset shown, or "" when none is (after a delete).
    std::string Name() const;
    bool IsFactory() const;
    const std::string& Prompt() const { return m_sPrompt; }
    const std::string& Text() const { return m_sText; }
    const std::string& Message() const { return m_sMessage; }
    int Index() const { return m_iCurrent; }
    // Counts the changes made from outside the window (Follow), for it to draw them.
    unsigned Revision() const { return m_uRevision; }

private:
    enum class Pending { Nothing, SaveAs, Rename, Overwrite, Delete };
    void Ask(Pending pending, const std::string& prompt, Mode mode);
    void Answer();
    void Chose(const std::string& name, const std::string& message);
    bool IsUser() const;

    std::string m_sDirectory;
    Hooks m_hooks;
    std::vector<PresetEntry> m_aList;
    std::set<std::string> m_aReported;
    int m_iCurrent = -1;
    unsigned m_uRevision = 0;
    Mode m_mode = Mode::Browse;
    Pending m_pending = Pending::Nothing;
    std::string m_sTarget; // the user preset a confirmation is about
    std::string m_sPrompt, m_sText, m_sMessage;
};

// A button of the strip: where it sits across the strip's width.
struct StripButton {
    CPresetStrip::Action action;
    const char* label;
    int x, width;
};
// The buttons the strip shows in its mode at `width` pixels; the name or prompt sits between the
// first group and the last.
std::vector<StripButton> StripLayout(const CPresetStrip& strip, int width);

// Draws the strip into a band of an X window with the core protocol alone: a dark band, light
// text, in the server's own fixed font.
class CStripPainter {
public:
    static constexpr int kHeight = 28;
    CStripPainter(_XDisplay* display, unsigned long window);
    ~CStripPainter();
    void Draw(const CPresetStrip& strip, int top, int width);

private:
    unsigned long Color(unsigned rgb);
    _XDisplay* m_pDisplay;
    unsigned long m_window;
    _XGC* m_gc;
    void* m_pFontStruct; // XFontStruct
    std::vector<std::pair<unsigned, unsigned long>> m_aColors; // allocated once each
};

// The list as corvex and corvex-render print it: a factory preset with its description, then the
// user's with "yours: <file>".
void PrintPresets(std::FILE* out, const std::vector<PresetEntry>& list);
// Puts the 12 controls into a component state (80 bytes or more); false if it is shorter.
bool PutPresetControls(std::vector<unsigned char>& state, const PresetControls& values);

} // namespace corvex::live
