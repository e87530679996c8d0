#pragma once

#include "base/Parameters.h"

// The editor's fixed layout: which control shows which parameter, from which bitmap resource,
// where. Shared by the view and the artwork generator so the pixels always fit the controls.

namespace corvex::editor {

constexpr int kEditorWidth = 1024;
constexpr int kEditorHeight = 768;
constexpr int kBackgroundBitmap = 150;
constexpr int kAboutDialogResource = 103;

// The About box, a modal panel centred on the editor: bitmap 103 with an OK button from bitmap
// 153 (up and pressed images stacked) near its bottom edge.
constexpr int kAboutWidth = 460;
constexpr int kAboutHeight = 260;
constexpr int kAboutLeft = (kEditorWidth - kAboutWidth) / 2;
constexpr int kAboutTop = (kEditorHeight - kAboutHeight) / 2;
constexpr int kAboutOkBitmap = 153;
constexpr int kAboutOkWidth = 96;
constexpr int kAboutOkHeight = 32;
constexpr int kAboutOkLeft = kAboutLeft + (kAboutWidth - kAboutOkWidth) / 2;
constexpr int kAboutOkTop = kAboutTop + kAboutHeight - kAboutOkHeight - 18;

// The speaker grille below the panel: files dropped on it load as the cabinet's impulse response.
constexpr int kGrilleLeft = 36;
constexpr int kGrilleTop = 540;
constexpr int kGrilleWidth = 952;
constexpr int kGrilleHeight = 212;

// The badge on the grille under the brand plate, showing which cabinet plays: bitmap 154 is its
// empty plate, drawn over the grille; its text is set in the font of bitmap 155.
constexpr int kImpulseBadgeBitmap = 154;
constexpr int kFontBitmap = 155;
constexpr int kImpulseBadgeWidth = 440;
constexpr int kImpulseBadgeHeight = 40;
constexpr int kImpulseBadgeLeft = kGrilleLeft + (kGrilleWidth - kImpulseBadgeWidth) / 2;
constexpr int kImpulseBadgeTop = 694;
// The badge's clear button: its right end, shown while a user IR plays.
constexpr int kImpulseClearWidth = 26;

// The tuner: a button in the top band beside the About button, and its panel over the grille
// between the panel's lower edge and the badge, hiding the brand plate while it shows.
constexpr int kTunerButtonLeft = 906;
constexpr int kTunerButtonTop = 3;
constexpr int kTunerButtonWidth = 56;
constexpr int kTunerButtonHeight = 21;
constexpr int kTunerLeft = 232;
constexpr int kTunerTop = 554;
constexpr int kTunerWidth = 560;
constexpr int kTunerHeight = 132;

enum class ControlKind { OnOffButton, AnimKnob, VuMeter, MovieBitmap, KickButton };

struct ControlLayout {
    ParamID id;
    ControlKind kind;
    int bitmap;       // the strip of sub-images; for a meter, its "on" image
    int offBitmap;    // a meter's "off" image, 0 otherwise
    int bitmapWidth;
    int bitmapHeight;
    int frames;       // sub-images stacked vertically; a meter's segment count
    int left;
    int top;

    int width() const { return bitmapWidth; }
    // Meters show whole images side by side, every other control one sub-image of its strip.
    int height() const { return kind == ControlKind::VuMeter ? bitmapHeight : bitmapHeight / frames; }
};

constexpr int kKnobFrames = 16;
constexpr int kSwitchFrames = 2;
constexpr int kMeterSegments = 26;

// Identifiers 1 to 18 in ascending order; "Bypass" has no control.
constexpr ControlLayout kControlLayouts[] = {
    {kInputSelection, ControlKind::OnOffButton, 112, 0, 31, 62, kSwitchFrames, 482, 209},
    {kGateCompressorOnOff, ControlKind::OnOffButton, 107, 0, 115, 376, kSwitchFrames, 88, 310},
    {kCompressorLevel, ControlKind::AnimKnob, 115, 0, 54, 864, kKnobFrames, 148, 251},
    {kDistortionOnOff, ControlKind::OnOffButton, 108, 0, 128, 376, kSwitchFrames, 263, 310},
    {kDistortionLevel, ControlKind::AnimKnob, 116, 0, 62, 864, kKnobFrames, 308, 251},
    {kStereoEnhancerOnOff, ControlKind::OnOffButton, 113, 0, 34, 62, kSwitchFrames, 543, 209},
    {kDelayOnOff, ControlKind::OnOffButton, 110, 0, 144, 376, kSwitchFrames, 600, 310},
    {kModulationOnOff, ControlKind::OnOffButton, 109, 0, 134, 376, kSwitchFrames, 431, 310},
    {kChorusSpeed, ControlKind::AnimKnob, 117, 0, 56, 864, kKnobFrames, 471, 251},
    {kReverbOnOff, ControlKind::OnOffButton, 111, 0, 156, 376, kSwitchFrames, 765, 310},
    {kDelayLevel, ControlKind::AnimKnob, 118, 0, 57, 864, kKnobFrames, 631, 251},
    {kReverbLevel, ControlKind::AnimKnob, 114, 0, 57, 864, kKnobFrames, 789, 251},
    {kOutputLeftVumeter, ControlKind::VuMeter, 120, 119, 279, 27, kMeterSegments, 610, 194},
    {kOutputRightVumeter, ControlKind::VuMeter, 122, 121, 279, 28, kMeterSegments, 610, 222},
    {kInputClippingLed, ControlKind::MovieBitmap, 106, 0, 20, 40, kSwitchFrames, 121, 279},
    {kOuputClippingLed, ControlKind::MovieBitmap, 104, 0, 22, 36, kSwitchFrames, 872, 283},
    {kCompressionLed, ControlKind::MovieBitmap, 105, 0, 18, 32, kSwitchFrames, 230, 284},
    {kButton1, ControlKind::KickButton, 152, 0, 54, 27, 1, 968, 0},
};

constexpr int kControlCount = int(sizeof kControlLayouts / sizeof kControlLayouts[0]);

} // namespace corvex::editor
