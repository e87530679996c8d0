#pragma once

#include "EditorBase.h"
#include "EditorLayout.h"
#include "ImpulseAccess.h"
#include "ImpulseBadge.h"
#include "ParameterAccess.h"
#include "TunerAccess.h"
#include "TunerPanel.h"
#include "gui/Controls.h"

#include <array>
#include <memory>
#include <string>

namespace corvex {

// The Corvex panel, whatever the plug-in format: the background and the 18 controls of the
// layout, kept in step with the host's values, turning the user's gestures into parameter edits,
// and showing the meters and LEDs the processor reports on the editor timer. Every value it
// reads and every edit it makes go through its CParameterAccess; everything else it needs from
// its host comes through the CHostWindow it is attached with.
class CCorvexView : public CEditorBase, public gui::CControlListener {
public:
    static constexpr int kIdleRate = 50; // ms between meter and LED updates
    static constexpr int kMinWidth = editor::kEditorWidth;
    static constexpr int kMaxWidth = editor::kEditorWidth + 50;
    static constexpr int kMinHeight = editor::kEditorHeight;
    static constexpr int kMaxHeight = editor::kEditorHeight + 50;
    static constexpr gui::CColor kBackgroundColor{127, 127, 127, 255};
    // Value change of a knob per Up/Down key, per Page Up/Down key, and the factor Shift applies.
    static constexpr float kKeyStep = 0.05f;
    static constexpr float kKeyCoarseStep = 0.25f;
    static constexpr float kKeyFineFactor = 0.1f;

    explicit CCorvexView(std::unique_ptr<CParameterAccess> parameters);
    ~CCorvexView() override;

    bool open(void* parent) override;
    void close() override;

    CParameterAccess& getParameterAccess() const { return *m_pParameters; }

    // Where the view sends the user's cabinet IR choices (a dropped or chosen file, or back to
    // the built-in cabinet); null (the default) offers none. Not owned: the host side keeps it
    // alive while the view may use it.
    void setImpulseAccess(CImpulseAccess* access) { m_pImpulseAccess = access; }
    CImpulseAccess* getImpulseAccess() const { return m_pImpulseAccess; }
    // What the host side holds: the IR's name (empty: the built-in cabinet) and the reason the
    // last load was refused (empty: none).
    void showImpulse(const std::string& name, const std::string& error);
    const std::string& getImpulseName() const { return m_sImpulseName; }
    const std::string& getImpulseError() const { return m_sImpulseError; }
    // The grille's badge, or null while closed.
    CImpulseBadge* getImpulseBadge() const { return m_pBadge; }
    static constexpr int kImpulseBadgeTag = 1000; // no parameter's identifier
    static constexpr const char* kChooserTitle = "Load a cabinet impulse response";

    // Where the view asks for the tuner's readings; null (the default) shows no TUNER button.
    // Not owned, as the impulse access.
    void setTunerAccess(CTunerAccess* access) { m_pTunerAccess = access; }
    // Shows or hides the tuner over the grille. Shown, the view asks its CTunerAccess for
    // readings on every tick; the output is muted meanwhile unless "mute while tuning" is off.
    void showTuner(bool shown);
    bool isTunerShown() const { return m_bTunerShown; }
    void setTunerMute(bool mute);
    bool getTunerMute() const { return m_bTunerMute; }
    // A4 in hertz, held to 430..450 in whole hertz.
    void setTunerReference(double hertz);
    double getTunerReference() const { return m_dTunerReference; }
    // A reading from the host side, shown at once.
    void showTunerReading(const PitchReading& reading);
    CTunerPanel* getTunerPanel() const { return m_pTunerPanel; }
    CTunerButton* getTunerButton() const { return m_pTunerButton; }
    static constexpr int kTunerButtonTag = 1001; // no parameter's identifier
    static constexpr int kTunerPanelTag = 1002;

    // A parameter value from the host side: knobs and switches take it at once, meters and LEDs
    // park it until the next tick.
    void update(ParamID id, double value);
    // After the host side restored a whole state: repaint everything at once.
    void refresh();

    void valueChanged(gui::CControl* control) override;
    void controlBeginEdit(gui::CControl* control) override;
    // A double-click or Ctrl+click on a knob returns it to its default, as one edit.
    bool controlModifierClicked(gui::CControl* control, const gui::CMouseEvent& event) override;
    void notify(const char* message) override;

    // The control showing `id`, or null while closed (and for "Bypass").
    gui::CControl* getControl(ParamID id) const;
    // The meter or LED value waiting for the next tick (identifiers 13 to 17).
    float getPendingValue(ParamID id) const;

    // The parameter whose control lies under (x, y), in the view's device pixels; false over
    // none (meters and LEDs are never answered).
    bool findParameterAt(int x, int y, ParamID& id) const;
    // Moves a proposed device size into the range the panel allows at its scale.
    void constrainSize(int& width, int& height) const;

protected:
    // Opens the About box (resource 103) as a modal panel inside the editor: a plug-in must not
    // spin a nested event loop inside the host's, so the panel takes all input until OK.
    void runModalDialog(int resourceId) override;
    // Up/Down and Page Up/Down turn the knob under the pointer, or the one last touched; Escape
    // closes the About box.
    bool handleKey(const gui::CKeyEvent& event) override;
    // The host's menu for the knob or switch there (for MIDI learning and the like).
    bool contextMenu(gui::CPoint where) override;
    // Files dropped on the speaker grille load as the cabinet's impulse response.
    bool isDropTarget(gui::CPoint where) const override;
    bool filesDropped(gui::CPoint where, const std::vector<std::string>& paths) override;
    // The badge says what letting go will do, shown at the next tick.
    void dragOver(bool over) override;
    void fileChosen(const std::string& path, const std::string& error) override;

private:
    void showPendingValues();
    // The knob keys act on: the one under the pointer, else the last one touched; null if none.
    gui::CControl* keyTarget() const;
    // One whole gesture setting `control` to `value`.
    void editOnce(gui::CControl* control, float value);
    // What a click on the badge asked for.
    void badgeClicked(CImpulseBadge::Action action);

    std::unique_ptr<CParameterAccess> m_pParameters;

    gui::SharedBitmap m_pBackground;
    std::array<gui::CControl*, kButton1 + 1> m_apControls{};             // by identifier, 1 to 18
    std::array<float, kCompressionLed - kOutputLeftVumeter + 1> m_afPending{}; // identifiers 13 to 17
    ParamID m_iLastTouchedKnob = 0;

    CImpulseAccess* m_pImpulseAccess = nullptr;
    CImpulseBadge* m_pBadge = nullptr;
    std::string m_sImpulseName;
    std::string m_sImpulseError;

    // What a click on the tuner panel asked for.
    void tunerClicked(CTunerPanel::Action action);
    // Tells the tuner access the tuner's state (on every tick while shown).
    void pollTuner();
    CTunerAccess* m_pTunerAccess = nullptr;
    CTunerButton* m_pTunerButton = nullptr;
    CTunerPanel* m_pTunerPanel = nullptr;
    bool m_bTunerShown = false;
    bool m_bTunerMute = true;
    double m_dTunerReference = CPitchDetector::kDefaultReference;
};

} // namespace corvex
