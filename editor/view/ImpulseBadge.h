#pragma once

#include "gui/BitmapFont.h"
#include "gui/Control.h"

#include <memory>
#include <string>

namespace corvex {

// The badge on the speaker grille: which cabinet plays (the built-in one or the user IR's name,
// shortened to fit) over a second line with the last refusal in red, or else a hint. A click
// asks for a file; while a user IR plays, a click on the x at its right end asks for the
// built-in cabinet back. Reports either through valueChanged; takeAction() says which.
class CImpulseBadge : public gui::CControl {
public:
    enum class Action { None, Choose, Clear };

    static constexpr const char* kBuiltInTitle = "Built-in cabinet";
    static constexpr const char* kHint = "Drop an IR file on the grille, or click here to choose one";
    static constexpr const char* kLoadedHint = "Click to choose another IR";
    static constexpr const char* kDropHint = "Let go to load it as the cabinet";
    static constexpr gui::CColor kTitleColor{242, 232, 204, 255};
    static constexpr gui::CColor kHintColor{150, 142, 124, 255};
    static constexpr gui::CColor kErrorColor{255, 104, 84, 255};

    CImpulseBadge(const gui::CRect& size, gui::CControlListener* listener, int tag, gui::SharedBitmap plate,
                  std::shared_ptr<const gui::CBitmapFont> font);

    // name empty: the built-in cabinet; error non-empty: the last refusal.
    void setContent(const std::string& name, const std::string& error);
    // Files that would be taken are being dragged over the grille: the second line says so.
    void setDropHover(bool hover);
    // The lines as shown, shortened to fit.
    const std::u32string& getTitle() const { return m_sTitle; }
    const std::u32string& getDetail() const { return m_sDetail; }
    bool isError() const { return m_bError; }
    bool showsClear() const { return m_bClear; }
    // The clear button's rectangle on the frame (empty while it is not shown).
    gui::CRect clearRect() const;
    // What the last click asked for, once.
    Action takeAction();

    bool onMouseDown(const gui::CMouseEvent& event) override;
    void onMouseUp(const gui::CMouseEvent& event) override;

protected:
    void drawControl(gui::COffscreenContext& context) override;

private:
    // The lines from the content, and the plate with them at layout size and at double size.
    void layOut();
    void compose();
    void drawText(std::vector<std::uint8_t>& image, int scale) const;

    std::shared_ptr<const gui::CBitmapFont> m_pFont;
    std::unique_ptr<gui::CBitmap> m_pComposed;
    std::string m_sName;
    std::string m_sError;
    bool m_bDropHover = false;
    std::u32string m_sTitle;
    std::u32string m_sDetail;
    bool m_bError = false;
    bool m_bClear = false;
    Action m_pressed = Action::None;
    Action m_action = Action::None;
};

} // namespace corvex
