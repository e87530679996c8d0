#include "CorvexView.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

namespace corvex {

using gui::CRect;

namespace {

// Hit-test order of findParameter; meters and LEDs are never answered.
constexpr ParamID kFindOrder[] = {kInputSelection,  kGateCompressorOnOff, kCompressorLevel, kButton1,
                                  kDistortionOnOff, kDistortionLevel,     kStereoEnhancerOnOff,
                                  kDelayOnOff,      kModulationOnOff,     kChorusSpeed,
                                  kReverbOnOff,     kDelayLevel,          kReverbLevel};

std::unique_ptr<gui::CControl> MakeControl(const editor::ControlLayout& c, gui::CControlListener* listener)
{
    using editor::ControlKind;
    const CRect rect = CRect::FromSize(c.left, c.top, c.width(), c.height());
    const int tag = int(c.id);
    switch (c.kind) {
    case ControlKind::OnOffButton:
        return std::make_unique<gui::COnOffButton>(rect, listener, tag, gui::LoadBitmap(c.bitmap));
    case ControlKind::AnimKnob:
        return std::make_unique<gui::CAnimKnob>(rect, listener, tag, c.frames, c.height(), gui::LoadBitmap(c.bitmap));
    case ControlKind::MovieBitmap:
        return std::make_unique<gui::CMovieBitmap>(rect, listener, tag, c.frames, c.height(),
                                                   gui::LoadBitmap(c.bitmap));
    case ControlKind::KickButton:
        return std::make_unique<gui::CKickButton>(rect, listener, tag, gui::LoadBitmap(c.bitmap));
    case ControlKind::VuMeter:
        // Meters report to nobody: no listener, tag 0.
        return std::make_unique<gui::CVuMeter>(rect, gui::LoadBitmap(c.bitmap), gui::LoadBitmap(c.offBitmap),
                                               c.frames);
    }
    return nullptr;
}

bool IsKnob(int tag)
{
    for (const editor::ControlLayout& c : editor::kControlLayouts)
        if (int(c.id) == tag)
            return c.kind == editor::ControlKind::AnimKnob;
    return false;
}

// The meters' display curve, 1 - (p - 1)^2: lifts low levels so quiet playing still shows.
float MeterCurve(float p)
{
    const float d = p - 1.0f;
    return 1.0f - d * d;
}

} // namespace

CCorvexView::CCorvexView(std::unique_ptr<CParameterAccess> parameters)
    : CEditorBase(editor::kEditorWidth, editor::kEditorHeight), m_pParameters(std::move(parameters))
{
    setIdleRate(kIdleRate);
}

CCorvexView::~CCorvexView()
{
    if (frame)
        close();
}

bool CCorvexView::open(void* /*parent*/)
{
    if (frame)
        return false;
    frame = std::make_unique<gui::CFrame>(CRect{0, 0, editor::kEditorWidth, editor::kEditorHeight}, this,
                                          getContentScale());
    frame->setBackgroundColor(kBackgroundColor);
    m_pBackground = gui::LoadBitmap(editor::kBackgroundBitmap);
    frame->setBackground(m_pBackground);
    for (const editor::ControlLayout& layout : editor::kControlLayouts)
        m_apControls[layout.id] = frame->addView(MakeControl(layout, this));
    for (ParamID id = kFirstParam; id <= kLastParam; ++id)
        update(id, m_pParameters->getParamNormalized(id));
    using namespace editor;
    m_pBadge = static_cast<CImpulseBadge*>(frame->addView(std::make_unique<CImpulseBadge>(
        CRect::FromSize(kImpulseBadgeLeft, kImpulseBadgeTop, kImpulseBadgeWidth, kImpulseBadgeHeight), this,
        kImpulseBadgeTag, gui::LoadBitmap(kImpulseBadgeBitmap), std::make_shared<const gui::CBitmapFont>(kFontBitmap))));
    m_pBadge->setContent(m_sImpulseName, m_sImpulseError);
    if (m_pTunerAccess != nullptr) {
        const auto font = std::make_shared<const gui::CBitmapFont>(kFontBitmap);
        m_pTunerButton = static_cast<CTunerButton*>(frame->addView(std::make_unique<CTunerButton>(
            CRect::FromSize(kTunerButtonLeft, kTunerButtonTop, kTunerButtonWidth, kTunerButtonHeight), this,
            kTunerButtonTag, font)));
        m_pTunerPanel = static_cast<CTunerPanel*>(frame->addView(std::make_unique<CTunerPanel>(
            CRect::FromSize(kTunerLeft, kTunerTop, kTunerWidth, kTunerHeight), this, kTunerPanelTag, m_pBackground,
            font)));
        m_pTunerPanel->setMute(m_bTunerMute);
        m_pTunerPanel->setReference(m_dTunerReference);
        m_pTunerButton->setValue(m_bTunerShown ? 1.0f : 0.0f);
        m_pTunerPanel->setShown(m_bTunerShown);
    }
    return true;
}

void CCorvexView::close()
{
    // Closed, nothing is copied for the tuner; it shows again when the view reopens.
    if (m_bTunerShown && m_pTunerAccess != nullptr)
        m_pTunerAccess->tune(false, m_bTunerMute, m_dTunerReference);
    m_pTunerButton = nullptr;
    m_pTunerPanel = nullptr;
    frame.reset();
    m_pBackground.reset();
    m_apControls.fill(nullptr);
    m_pBadge = nullptr;
    m_afPending.fill(0.0f);
    m_iLastTouchedKnob = 0;
}

gui::CControl* CCorvexView::getControl(ParamID id) const
{
    return id >= kFirstParam && id <= kButton1 ? m_apControls[id] : nullptr;
}

float CCorvexView::getPendingValue(ParamID id) const
{
    return IsIndicator(id) ? m_afPending[id - kOutputLeftVumeter] : 0.0f;
}

void CCorvexView::update(ParamID id, double value)
{
    if (id >= kInputSelection && id <= kReverbLevel) {
        if (gui::CControl* control = m_apControls[id])
            control->setValue(float(value));
    } else if (IsIndicator(id) && m_apControls[id] != nullptr) {
        m_afPending[id - kOutputLeftVumeter] = float(value);
    }
}

void CCorvexView::valueChanged(gui::CControl* control)
{
    if (control == nullptr)
        return;
    if (control == m_pBadge) {
        badgeClicked(m_pBadge->takeAction());
        return;
    }
    if (control == m_pTunerButton) {
        showTuner(control->getValue() >= 0.5f);
        return;
    }
    if (control == m_pTunerPanel) {
        tunerClicked(m_pTunerPanel->takeAction());
        return;
    }
    const int tag = control->getTag();
    if (IsKnob(tag))
        m_iLastTouchedKnob = ParamID(tag);
    if (tag >= int(kInputSelection) && tag <= int(kReverbLevel)) {
        m_pParameters->performEdit(ParamID(tag), control->getValue());
    } else if (tag == int(kButton1) && control->getValue() == 1.0f) {
        runModalDialog(editor::kAboutDialogResource);
    }
}

void CCorvexView::controlBeginEdit(gui::CControl* control)
{
    if (control != nullptr && IsKnob(control->getTag()))
        m_iLastTouchedKnob = ParamID(control->getTag());
}

void CCorvexView::editOnce(gui::CControl* control, float value)
{
    const auto id = ParamID(control->getTag());
    m_iLastTouchedKnob = id;
    control->setValue(value);
    m_pParameters->beginEdit(id);
    m_pParameters->performEdit(id, value);
    m_pParameters->endEdit(id);
}

bool CCorvexView::controlModifierClicked(gui::CControl* control, const gui::CMouseEvent& /*event*/)
{
    if (control == nullptr || !IsKnob(control->getTag()))
        return false;
    editOnce(control, float(m_pParameters->getDefaultNormalized(ParamID(control->getTag()))));
    return true;
}

gui::CControl* CCorvexView::keyTarget() const
{
    gui::CPoint pointer;
    if (getPointer(pointer))
        for (const editor::ControlLayout& c : editor::kControlLayouts)
            if (c.kind == editor::ControlKind::AnimKnob && m_apControls[c.id] != nullptr &&
                m_apControls[c.id]->getViewSize().pointInside(pointer))
                return m_apControls[c.id];
    return m_iLastTouchedKnob != 0 ? m_apControls[m_iLastTouchedKnob] : nullptr;
}

bool CCorvexView::handleKey(const gui::CKeyEvent& event)
{
    using gui::VirtualKey;
    if (!frame)
        return false;
    if (frame->getModal() != nullptr) {
        // The About box takes no other key: the host keeps them.
        if (event.key != VirtualKey::Escape)
            return false;
        frame->closeModal();
        return true;
    }
    if (event.key == VirtualKey::Menu) {
        // The menu of the control under the pointer, else of the knob last touched, at its centre.
        gui::CPoint pointer;
        ParamID id = 0;
        const double scale = getContentScale();
        const auto device = [scale](int v) { return int(std::floor(v * scale + 0.5)); };
        if (getPointer(pointer) && findParameterAt(device(pointer.x), device(pointer.y), id))
            return contextMenu({device(pointer.x), device(pointer.y)});
        const gui::CControl* knob = keyTarget();
        if (knob == nullptr)
            return false;
        const gui::CRect& r = knob->getViewSize();
        return contextMenu({device((r.left + r.right) / 2), device((r.top + r.bottom) / 2)});
    }
    float step = 0.0f;
    switch (event.key) {
    case VirtualKey::Up: step = kKeyStep; break;
    case VirtualKey::Down: step = -kKeyStep; break;
    case VirtualKey::PageUp: step = kKeyCoarseStep; break;
    case VirtualKey::PageDown: step = -kKeyCoarseStep; break;
    default: return false;
    }
    gui::CControl* knob = keyTarget();
    if (knob == nullptr)
        return false;
    if ((event.modifiers & gui::kShift) != 0)
        step *= kKeyFineFactor;
    const float raw = knob->getValue();
    const float current = raw > 0.0f ? std::min(raw, 1.0f) : 0.0f; // NaN counts as 0
    const float value = std::clamp(current + step, 0.0f, 1.0f);
    // At an end of the range the key is still the editor's: it must not reach the host instead.
    if (value != current)
        editOnce(knob, value);
    return true;
}

void CCorvexView::runModalDialog(int resourceId)
{
    if (resourceId != editor::kAboutDialogResource || !frame)
        return;
    using namespace editor;
    frame->openModal(std::make_unique<gui::CDialogPanel>(
        CRect::FromSize(kAboutLeft, kAboutTop, kAboutWidth, kAboutHeight), this, resourceId,
        gui::LoadBitmap(kAboutDialogResource),
        CRect::FromSize(kAboutOkLeft, kAboutOkTop, kAboutOkWidth, kAboutOkHeight), gui::LoadBitmap(kAboutOkBitmap)));
}

void CCorvexView::showPendingValues()
{
    for (ParamID id : {kOutputLeftVumeter, kOutputRightVumeter}) {
        if (gui::CControl* meter = m_apControls[id]) {
            float& pending = m_afPending[id - kOutputLeftVumeter];
            meter->setValue(MeterCurve(pending));
            pending = 0.0f;
        }
    }
    // LEDs hold their state until a new value arrives.
    for (ParamID id : {kInputClippingLed, kOuputClippingLed, kCompressionLed})
        if (gui::CControl* led = m_apControls[id])
            led->setValue(m_afPending[id - kOutputLeftVumeter]);
}

void CCorvexView::notify(const char* message)
{
    if (message != nullptr && std::strcmp(message, kTimerFired) == 0) {
        showPendingValues();
        if (m_bTunerShown && frame)
            pollTuner();
    }
    CEditorBase::notify(message);
}

void CCorvexView::showTuner(bool shown)
{
    if (m_pTunerAccess == nullptr || shown == m_bTunerShown)
        return;
    m_bTunerShown = shown;
    if (m_pTunerButton != nullptr)
        m_pTunerButton->setValue(shown ? 1.0f : 0.0f);
    if (m_pTunerPanel != nullptr) {
        m_pTunerPanel->setReading({});
        m_pTunerPanel->setShown(shown);
    }
    // Shown, the first tick asks for readings; hidden, the host side stops at once.
    if (!shown)
        m_pTunerAccess->tune(false, m_bTunerMute, m_dTunerReference);
    else if (frame)
        pollTuner();
}

void CCorvexView::pollTuner()
{
    if (m_pTunerAccess != nullptr)
        m_pTunerAccess->tune(true, m_bTunerMute, m_dTunerReference);
}

void CCorvexView::setTunerMute(bool mute)
{
    m_bTunerMute = mute;
    if (m_pTunerPanel != nullptr)
        m_pTunerPanel->setMute(mute);
    if (m_bTunerShown && frame)
        pollTuner();
}

void CCorvexView::setTunerReference(double hertz)
{
    if (!(hertz == hertz))
        return;
    m_dTunerReference = std::clamp(std::round(hertz), CPitchDetector::kMinReference, CPitchDetector::kMaxReference);
    if (m_pTunerPanel != nullptr)
        m_pTunerPanel->setReference(m_dTunerReference);
}

void CCorvexView::showTunerReading(const PitchReading& reading)
{
    if (m_pTunerPanel != nullptr && m_bTunerShown)
        m_pTunerPanel->setReading(reading);
}

void CCorvexView::tunerClicked(CTunerPanel::Action action)
{
    switch (action) {
    case CTunerPanel::Action::Mute: setTunerMute(!m_bTunerMute); break;
    case CTunerPanel::Action::ReferenceDown: setTunerReference(m_dTunerReference - 1.0); break;
    case CTunerPanel::Action::ReferenceUp: setTunerReference(m_dTunerReference + 1.0); break;
    case CTunerPanel::Action::None: break;
    }
}

void CCorvexView::showImpulse(const std::string& name, const std::string& error)
{
    m_sImpulseName = name;
    m_sImpulseError = error;
    // Shown at the next tick, as parameter values are.
    if (m_pBadge != nullptr)
        m_pBadge->setContent(name, error);
}

void CCorvexView::badgeClicked(CImpulseBadge::Action action)
{
    if (m_pImpulseAccess == nullptr)
        return;
    if (action == CImpulseBadge::Action::Clear) {
        m_pImpulseAccess->clearImpulse();
    } else if (action == CImpulseBadge::Action::Choose) {
        // The file types ReadImpulseFile decodes: libsndfile's on Linux, WAVE files on Windows.
#if defined(_WIN32)
        static const FileFilter kAudioFiles{"WAVE audio files", {"*.wav", "*.wave"}};
#else
        static const FileFilter kAudioFiles{
            "Audio files",
            {"*.wav", "*.wave", "*.flac", "*.aiff", "*.aif", "*.aifc", "*.ogg", "*.oga", "*.opus", "*.w64", "*.caf",
             "*.au", "*.snd", "*.rf64"}};
#endif
        std::string error;
        if (!chooseFile(kChooserTitle, kAudioFiles, error))
            showImpulse(m_sImpulseName, error);
    }
}

bool CCorvexView::isDropTarget(gui::CPoint where) const
{
    using namespace editor;
    return m_pImpulseAccess != nullptr &&
           CRect::FromSize(kGrilleLeft, kGrilleTop, kGrilleWidth, kGrilleHeight).pointInside(where);
}

bool CCorvexView::filesDropped(gui::CPoint /*where*/, const std::vector<std::string>& paths)
{
    // One IR at a time: of several files, the first.
    m_pImpulseAccess->loadImpulseFile(paths.front());
    return true;
}

void CCorvexView::dragOver(bool over)
{
    if (m_pBadge != nullptr)
        m_pBadge->setDropHover(over);
}

void CCorvexView::fileChosen(const std::string& path, const std::string& error)
{
    if (!error.empty())
        showImpulse(m_sImpulseName, error);
    else if (!path.empty() && m_pImpulseAccess != nullptr)
        m_pImpulseAccess->loadImpulseFile(path);
}

void CCorvexView::refresh()
{
    if (!frame)
        return;
    frame->invalidate();
    redrawFrame();
}

bool CCorvexView::contextMenu(gui::CPoint where)
{
    ParamID id = 0;
    if (!frame || frame->getModal() != nullptr || !findParameterAt(where.x, where.y, id) || id == kButton1)
        return false;
    return m_pParameters->popupContextMenu(id, where.x, where.y);
}

bool CCorvexView::findParameterAt(int x, int y, ParamID& id) const
{
    gui::CPoint where{x, y};
    if (frame)
        where = frame->getOffscreen().toLayout(where);
    for (ParamID candidate : kFindOrder) {
        const gui::CControl* control = m_apControls[candidate];
        if (control != nullptr && control->getViewSize().pointInside(where)) {
            id = candidate;
            return true;
        }
    }
    return false;
}

void CCorvexView::constrainSize(int& width, int& height) const
{
    // The layout's range, in device pixels at the view's scale.
    const gui::CRect size = scaledSize();
    const auto scaled = [&](int v) { return int(std::floor(v * getContentScale() + 0.5)); };
    width = std::clamp(width, size.width(), size.width() + scaled(kMaxWidth - kMinWidth));
    height = std::clamp(height, size.height(), size.height() + scaled(kMaxHeight - kMinHeight));
}

} // namespace corvex
