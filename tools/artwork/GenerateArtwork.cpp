// Draws every bitmap of the Corvex editor and writes them as PNG files, which the build compiles
// into the module.
//
//   corvex-artwork <output directory>
//
// Each bitmap is drawn twice from the same vector drawing: bitmapN.png at the layout's size and
// bitmapN@2x.png at twice that, so a 200 % editor is drawn sharp rather than blown up. The
// background is drawn first; every control image starts as a copy of the background under the
// control's rectangle, so controls blend into the panel seamlessly. The output is a
// deterministic function of this file, cairo and the DejaVu fonts.

#include "gui/BitmapFont.h"
#include "view/EditorLayout.h"
#include "version.h"

#include <cairo.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

namespace {

using corvex::editor::ControlKind;
using corvex::editor::ControlLayout;
using corvex::editor::kControlLayouts;

constexpr double kPi = 3.14159265358979323846;
constexpr double kKnobSweep = 270.0 * kPi / 180.0;

struct Rgb {
    double r, g, b;
};

// Device pixels per layout pixel of everything being drawn: 1, or 2 for the @2x set.
int g_iScale = 1;

// An image surface of w x h layout pixels at the current scale; drawing on it stays in layout
// coordinates.
cairo_surface_t* NewSurface(int w, int h)
{
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w * g_iScale, h * g_iScale);
    cairo_surface_set_device_scale(surface, g_iScale, g_iScale);
    return surface;
}

struct GradientStop {
    double offset;
    Rgb color;
};

// Sets a vertical linear gradient between y0 and y1 as the source; the context keeps its own
// reference to the pattern.
void SetVerticalGradient(cairo_t* cr, double y0, double y1, std::initializer_list<GradientStop> stops)
{
    cairo_pattern_t* pattern = cairo_pattern_create_linear(0, y0, 0, y1);
    for (const GradientStop& stop : stops)
        cairo_pattern_add_color_stop_rgb(pattern, stop.offset, stop.color.r, stop.color.g, stop.color.b);
    cairo_set_source(cr, pattern);
    cairo_pattern_destroy(pattern);
}

constexpr Rgb kCream{0.95, 0.91, 0.80};
constexpr Rgb kMeterGlass{0.045, 0.045, 0.045};

const char* const kSans = "DejaVu Sans";
const char* const kSerif = "DejaVu Serif";

void SetColor(cairo_t* cr, Rgb c, double alpha = 1.0) { cairo_set_source_rgba(cr, c.r, c.g, c.b, alpha); }

void RoundedRect(cairo_t* cr, double x, double y, double w, double h, double r)
{
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + w - r, y + r, r, -kPi / 2, 0);
    cairo_arc(cr, x + w - r, y + h - r, r, 0, kPi / 2);
    cairo_arc(cr, x + r, y + h - r, r, kPi / 2, kPi);
    cairo_arc(cr, x + r, y + r, r, kPi, 3 * kPi / 2);
    cairo_close_path(cr);
}

// Width of `text` as Text() sets it.
double TextWidth(cairo_t* cr, const std::string& text, double size, bool bold, double spacing)
{
    cairo_save(cr);
    cairo_select_font_face(cr, kSans, CAIRO_FONT_SLANT_NORMAL, bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, size);
    double width = -spacing;
    for (char ch : text) {
        const char s[2] = {ch, 0};
        cairo_text_extents_t e;
        cairo_text_extents(cr, s, &e);
        width += e.x_advance + spacing;
    }
    cairo_restore(cr);
    return width;
}

// Centred text at baseline y; letter spacing makes small caps read like panel engraving.
void Text(cairo_t* cr, const std::string& text, double cx, double baseline, double size, bool bold,
          Rgb color, double spacing = 0.0, const char* face = kSans, bool italic = false)
{
    cairo_select_font_face(cr, face, italic ? CAIRO_FONT_SLANT_ITALIC : CAIRO_FONT_SLANT_NORMAL,
                           bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, size);
    double width = 0.0;
    std::vector<double> advances;
    for (char ch : text) {
        const char s[2] = {ch, 0};
        cairo_text_extents_t e;
        cairo_text_extents(cr, s, &e);
        advances.push_back(e.x_advance);
        width += e.x_advance + spacing;
    }
    width -= spacing;
    double x = std::round(cx - width / 2.0);
    // A dark drop shadow keeps light text crisp on textured metal.
    for (int pass = 0; pass < 2; ++pass) {
        double px = x + (pass == 0 ? 1.0 : 0.0);
        const double py = baseline + (pass == 0 ? 1.0 : 0.0);
        if (pass == 0)
            cairo_set_source_rgba(cr, 0, 0, 0, 0.65);
        else
            SetColor(cr, color);
        for (std::size_t i = 0; i < text.size(); ++i) {
            const char s[2] = {text[i], 0};
            cairo_move_to(cr, px, py);
            cairo_show_text(cr, s);
            px += advances[i] + spacing;
        }
    }
}

// Small deterministic generator for the brushed-metal streaks.
struct Lcg {
    std::uint32_t state = 0x2545F491u;
    double next()
    {
        state = state * 1664525u + 1013904223u;
        return double(state >> 8) / double(1u << 24);
    }
};

void Screw(cairo_t* cr, double cx, double cy)
{
    cairo_pattern_t* p = cairo_pattern_create_radial(cx - 2, cy - 2, 1, cx, cy, 6);
    cairo_pattern_add_color_stop_rgb(p, 0, 0.85, 0.85, 0.86);
    cairo_pattern_add_color_stop_rgb(p, 1, 0.35, 0.35, 0.37);
    cairo_set_source(cr, p);
    cairo_arc(cr, cx, cy, 5.5, 0, 2 * kPi);
    cairo_fill(cr);
    cairo_pattern_destroy(p);
    cairo_set_source_rgba(cr, 0.1, 0.1, 0.1, 0.8);
    cairo_set_line_width(cr, 1.3);
    cairo_move_to(cr, cx - 3.5, cy - 1.5);
    cairo_line_to(cr, cx + 3.5, cy + 1.5);
    cairo_move_to(cr, cx - 1.5, cy + 3.5);
    cairo_line_to(cr, cx + 1.5, cy - 3.5);
    cairo_stroke(cr);
}

// Regular pebble grain: periodic, so it costs almost nothing once compressed.
void Tolex(cairo_surface_t* surface)
{
    static const int kGrain[4][4] = {{6, -3, 2, -5}, {-2, 4, -6, 1}, {3, -5, 5, -2}, {-4, 1, -1, 4}};
    cairo_surface_flush(surface);
    unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < cairo_image_surface_get_height(surface); ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(data + std::size_t(y) * stride);
        for (int x = 0; x < cairo_image_surface_get_width(surface); ++x) {
            const int v = 27 + kGrain[y & 3][x & 3];
            row[x] = 0xFF000000u | std::uint32_t(v << 16) | std::uint32_t((v - 1) << 8) | std::uint32_t(v - 3);
        }
    }
    cairo_surface_mark_dirty(surface);
}

void Handle(cairo_t* cr)
{
    const double x = 402, y = 14, w = 220, h = 44;
    RoundedRect(cr, x, y, w, h, 16);
    SetVerticalGradient(cr, y, y + h, {{0, {0.24, 0.17, 0.12}}, {0.5, {0.15, 0.10, 0.07}}, {1, {0.08, 0.05, 0.04}}});
    cairo_fill(cr);
    // Stitching along the strap.
    cairo_set_source_rgba(cr, 0.78, 0.68, 0.50, 0.55);
    cairo_set_line_width(cr, 1.0);
    const double dash[] = {5.0, 4.0};
    cairo_set_dash(cr, dash, 2, 0);
    RoundedRect(cr, x + 5.5, y + 5.5, w - 11, h - 11, 11);
    cairo_stroke(cr);
    cairo_set_dash(cr, nullptr, 0, 0);
    for (double cx : {x - 8.0, x + w - 20.0}) {
        RoundedRect(cr, cx, y - 2, 28, h + 4, 6);
        SetVerticalGradient(cr, y - 2, y + h + 2, {{0, {0.92, 0.92, 0.93}}, {0.45, {0.55, 0.55, 0.58}}, {1, {0.82, 0.82, 0.84}}});
        cairo_fill(cr);
        Screw(cr, cx + 14, y + h / 2);
    }
}

void BrushedPanel(cairo_t* cr, double x, double y, double w, double h)
{
    cairo_save(cr);
    RoundedRect(cr, x, y, w, h, 12);
    cairo_clip(cr);
    Lcg lcg;
    for (int row = int(y); row < int(y + h); ++row) {
        const double t = (row - y) / h;
        const double base = 0.235 - 0.07 * t + 0.018 * (lcg.next() - 0.5);
        cairo_set_source_rgb(cr, base, base, base * 1.03);
        cairo_rectangle(cr, x, row, w, 1);
        cairo_fill(cr);
    }
    cairo_restore(cr);
    // Chrome trim around the plate.
    SetVerticalGradient(cr, y, y + h, {{0, {0.90, 0.90, 0.92}}, {0.5, {0.45, 0.45, 0.48}}, {1, {0.80, 0.80, 0.82}}});
    cairo_set_line_width(cr, 3.0);
    RoundedRect(cr, x + 1.5, y + 1.5, w - 3, h - 3, 11);
    cairo_stroke(cr);
    for (double sx : {x + 16, x + w - 16})
        for (double sy : {y + 16, y + h - 16})
            Screw(cr, sx, sy);
}

void Grille(cairo_t* cr, double x, double y, double w, double h)
{
    cairo_save(cr);
    RoundedRect(cr, x, y, w, h, 14);
    cairo_clip(cr);
    // Basket weave of two thread colours, repeating every 6 pixels.
    for (int row = int(y); row < int(y + h); ++row) {
        for (int col = int(x); col < int(x + w); col += 1) {
            const int a = (col + row) % 6;
            const int b = (col - row + 6000) % 6;
            double v = 0.10;
            if (a < 2)
                v = 0.30;
            else if (b < 2)
                v = 0.20;
            cairo_set_source_rgb(cr, v * 0.92, v * 0.78, v * 0.55);
            cairo_rectangle(cr, col, row, 1, 1);
            cairo_fill(cr);
        }
    }
    // Shade towards the edges like cloth stretched over a baffle.
    cairo_pattern_t* shade = cairo_pattern_create_linear(0, y, 0, y + h);
    cairo_pattern_add_color_stop_rgba(shade, 0, 0, 0, 0, 0.55);
    cairo_pattern_add_color_stop_rgba(shade, 0.18, 0, 0, 0, 0.0);
    cairo_pattern_add_color_stop_rgba(shade, 0.85, 0, 0, 0, 0.0);
    cairo_pattern_add_color_stop_rgba(shade, 1, 0, 0, 0, 0.5);
    cairo_set_source(cr, shade);
    cairo_paint(cr);
    cairo_pattern_destroy(shade);
    cairo_restore(cr);
    // Cream piping.
    SetColor(cr, {0.86, 0.80, 0.66});
    cairo_set_line_width(cr, 4.0);
    RoundedRect(cr, x + 2, y + 2, w - 4, h - 4, 12);
    cairo_stroke(cr);

    // The brand plate.
    const double bw = 250, bh = 74, bx = x + (w - bw) / 2, by = y + (h - bh) / 2;
    RoundedRect(cr, bx, by, bw, bh, 10);
    SetVerticalGradient(cr, by, by + bh, {{0, {0.96, 0.93, 0.84}}, {0.5, {0.74, 0.68, 0.54}}, {1, {0.90, 0.85, 0.72}}});
    cairo_fill_preserve(cr);
    cairo_set_source_rgb(cr, 0.25, 0.2, 0.12);
    cairo_set_line_width(cr, 2.0);
    cairo_stroke(cr);
    cairo_select_font_face(cr, kSerif, CAIRO_FONT_SLANT_ITALIC, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cr, 50);
    cairo_text_extents_t e;
    cairo_text_extents(cr, "Corvex", &e);
    cairo_move_to(cr, std::round(bx + (bw - e.width) / 2 - e.x_bearing), by + 54);
    cairo_set_source_rgb(cr, 0.16, 0.10, 0.06);
    cairo_show_text(cr, "Corvex");
}

void LedSocket(cairo_t* cr, double cx, double cy, double r)
{
    cairo_set_source_rgb(cr, 0.05, 0.05, 0.05);
    cairo_arc(cr, cx, cy + 0.5, r + 1.5, 0, 2 * kPi);
    cairo_fill(cr);
}

// A switch module: the big footswitch tiles under the knob row.
struct Module {
    corvex::ParamID id;
    const char* name;
    const char* knobLabel; // the knob right above the tile, labelled at its top edge
    double knobCentre;     // frame x of that knob's centre
    Rgb accent;
};

const Module kModules[] = {
    {corvex::kGateCompressorOnOff, "GATE / COMP", "LEVEL", 175.0, {0.30, 0.85, 0.75}},
    {corvex::kDistortionOnOff, "DISTORTION", "DRIVE", 339.0, {1.00, 0.42, 0.16}},
    {corvex::kModulationOnOff, "MODULATION", "SPEED", 499.0, {0.72, 0.45, 1.00}},
    {corvex::kDelayOnOff, "DELAY", "LEVEL", 659.5, {0.35, 0.65, 1.00}},
    {corvex::kReverbOnOff, "REVERB", "LEVEL", 817.5, {0.45, 0.95, 0.40}},
};

void Background(cairo_t* cr)
{
    Handle(cr);
    BrushedPanel(cr, 36, 96, 952, 428);
    Grille(cr, corvex::editor::kGrilleLeft, corvex::editor::kGrilleTop, corvex::editor::kGrilleWidth,
           corvex::editor::kGrilleHeight);

    // Brand and tag line, top left of the panel.
    cairo_select_font_face(cr, kSerif, CAIRO_FONT_SLANT_ITALIC, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cr, 62);
    cairo_set_source_rgba(cr, 0, 0, 0, 0.6);
    cairo_move_to(cr, 74, 176);
    cairo_show_text(cr, "Corvex");
    SetColor(cr, kCream);
    cairo_move_to(cr, 72, 174);
    cairo_show_text(cr, "Corvex");
    Text(cr, "GUITAR AMPLIFIER & EFFECTS", 196, 200, 10.5, true, {0.78, 0.74, 0.64}, 1.6);
    cairo_set_source_rgba(cr, 0.95, 0.91, 0.80, 0.35);
    cairo_rectangle(cr, 74, 208, 244, 1);
    cairo_fill(cr);

    // Input section.
    Text(cr, "INPUT", 497.5, 193, 9, true, kCream, 1.0);
    Text(cr, "SELECT", 497.5, 204, 9, true, kCream, 1.0);
    Text(cr, "STEREO", 560, 193, 9, true, kCream, 1.0);
    Text(cr, "ENHANCER", 560, 204, 8.5, true, kCream, 0.2);
    // Lit, the selector takes the left input; dark, the right.
    Text(cr, "LIT = L", 497.5, 249, 7.5, true, {0.70, 0.67, 0.60}, 0.5);

    // Meter window with its bezel.
    RoundedRect(cr, 603, 188, 293, 64, 5);
    SetVerticalGradient(cr, 188, 254, {{0, {0.85, 0.85, 0.87}}, {0.5, {0.40, 0.40, 0.43}}, {1, {0.75, 0.75, 0.78}}});
    cairo_fill(cr);
    SetColor(cr, kMeterGlass);
    cairo_rectangle(cr, 606, 191, 287, 60);
    cairo_fill(cr);
    Text(cr, "OUTPUT LEVEL", 749.5, 181, 10, true, kCream, 2.0);
    Text(cr, "L", 594, 212, 10, true, kCream);
    Text(cr, "R", 594, 241, 10, true, kCream);

    // LED captions.
    Text(cr, "INPUT", 131, 264, 8, true, kCream, 0.6);
    Text(cr, "CLIP", 131, 275, 8, true, kCream, 0.6);
    Text(cr, "COMP", 239, 279, 8, true, kCream, 0.6);
    Text(cr, "OUTPUT", 883, 268, 8, true, kCream, 0.3);
    Text(cr, "CLIP", 883, 279, 8, true, kCream, 0.6);

    // Signal flow: a thin rule linking the modules, left to right.
    cairo_set_source_rgba(cr, 0.95, 0.91, 0.80, 0.25);
    cairo_rectangle(cr, 60, 507, 904, 1);
    cairo_fill(cr);
    Text(cr, "SIGNAL FLOW  >", 890, 519, 7.5, false, {0.62, 0.59, 0.52}, 1.2);
}

void Knob(cairo_t* cr, double w, double h, int frame)
{
    const double cx = w / 2.0, cy = h / 2.0;
    // Scale ticks over the 270 degree sweep.
    cairo_set_line_width(cr, 1.4);
    for (int i = 0; i <= 10; ++i) {
        const double a = -kKnobSweep / 2 + kKnobSweep * i / 10.0;
        const double r0 = 22.0, r1 = (i % 5 == 0) ? 26.5 : 25.0;
        cairo_move_to(cr, cx + r0 * std::sin(a), cy - r0 * std::cos(a));
        cairo_line_to(cr, cx + r1 * std::sin(a), cy - r1 * std::cos(a));
    }
    SetColor(cr, kCream, 0.85);
    cairo_stroke(cr);
    // Shadow, then the skirt with its silver rim.
    cairo_set_source_rgba(cr, 0, 0, 0, 0.5);
    cairo_arc(cr, cx + 1.5, cy + 2, 20.5, 0, 2 * kPi);
    cairo_fill(cr);
    SetVerticalGradient(cr, cy - 20, cy + 20, {{0, {0.88, 0.88, 0.90}}, {1, {0.35, 0.35, 0.38}}});
    cairo_arc(cr, cx, cy, 20, 0, 2 * kPi);
    cairo_fill(cr);
    cairo_set_source_rgb(cr, 0.07, 0.07, 0.08);
    cairo_arc(cr, cx, cy, 18.2, 0, 2 * kPi);
    cairo_fill(cr);
    // Glossy cap.
    cairo_pattern_t* cap = cairo_pattern_create_radial(cx - 4, cy - 5, 1, cx, cy, 13.5);
    cairo_pattern_add_color_stop_rgb(cap, 0, 0.42, 0.42, 0.44);
    cairo_pattern_add_color_stop_rgb(cap, 0.6, 0.14, 0.14, 0.15);
    cairo_pattern_add_color_stop_rgb(cap, 1, 0.05, 0.05, 0.05);
    cairo_set_source(cr, cap);
    cairo_arc(cr, cx, cy, 13.5, 0, 2 * kPi);
    cairo_fill(cr);
    // Pointer.
    const double a = -kKnobSweep / 2 + kKnobSweep * frame / double(corvex::editor::kKnobFrames - 1);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_width(cr, 3.0);
    SetColor(cr, kCream);
    cairo_move_to(cr, cx + 6.0 * std::sin(a), cy - 6.0 * std::cos(a));
    cairo_line_to(cr, cx + 17.5 * std::sin(a), cy - 17.5 * std::cos(a));
    cairo_stroke(cr);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
}

void Jewel(cairo_t* cr, double cx, double cy, double r, Rgb color, bool on)
{
    LedSocket(cr, cx, cy, r);
    if (on) {
        cairo_pattern_t* glow = cairo_pattern_create_radial(cx, cy, 0, cx, cy, r * 2.2);
        cairo_pattern_add_color_stop_rgba(glow, 0, color.r, color.g, color.b, 0.55);
        cairo_pattern_add_color_stop_rgba(glow, 1, color.r, color.g, color.b, 0.0);
        cairo_set_source(cr, glow);
        cairo_arc(cr, cx, cy, r * 2.2, 0, 2 * kPi);
        cairo_fill(cr);
        cairo_pattern_destroy(glow);
    }
    const double k = on ? 1.0 : 0.22;
    cairo_pattern_t* lens = cairo_pattern_create_radial(cx - r * 0.3, cy - r * 0.35, r * 0.1, cx, cy, r);
    cairo_pattern_add_color_stop_rgb(lens, 0, std::min(1.0, color.r * k + (on ? 0.6 : 0.15)),
                                     std::min(1.0, color.g * k + (on ? 0.6 : 0.15)),
                                     std::min(1.0, color.b * k + (on ? 0.6 : 0.15)));
    cairo_pattern_add_color_stop_rgb(lens, 1, color.r * k * 0.75, color.g * k * 0.75, color.b * k * 0.75);
    cairo_set_source(cr, lens);
    cairo_arc(cr, cx, cy, r, 0, 2 * kPi);
    cairo_fill(cr);
}

void SwitchTile(cairo_t* cr, double w, double h, const Module& module, double tileLeft, bool on)
{
    // Recessed plate for the module.
    RoundedRect(cr, 4.5, 4.5, w - 9, h - 9, 9);
    cairo_set_source_rgba(cr, 0, 0, 0, 0.45);
    cairo_fill(cr);
    RoundedRect(cr, 6, 6, w - 12, h - 12, 8);
    cairo_pattern_t* plate = cairo_pattern_create_linear(0, 6, 0, h - 6);
    const Rgb a = module.accent;
    cairo_pattern_add_color_stop_rgb(plate, 0, 0.10 + a.r * 0.10, 0.10 + a.g * 0.10, 0.10 + a.b * 0.10);
    cairo_pattern_add_color_stop_rgb(plate, 1, 0.06 + a.r * 0.05, 0.06 + a.g * 0.05, 0.06 + a.b * 0.05);
    cairo_set_source(cr, plate);
    cairo_fill_preserve(cr);
    cairo_pattern_destroy(plate);
    SetColor(cr, a, on ? 0.9 : 0.35);
    cairo_set_line_width(cr, 1.5);
    cairo_stroke(cr);

    // Under its knob, but clear of the tile's rounded border.
    const double half = TextWidth(cr, module.knobLabel, 10, true, 1.2) / 2.0 + 12.0;
    Text(cr, module.knobLabel, std::clamp(module.knobCentre - tileLeft, half, w - half), 20, 10, true, kCream, 1.2);

    const double cx = w / 2.0;
    Jewel(cr, cx, 46, 8, a, on);

    // Chrome footswitch: hex nut and a round plunger, pressed down while on.
    const double fy = 102;
    cairo_set_source_rgba(cr, 0, 0, 0, 0.55);
    cairo_arc(cr, cx + 2, fy + 3, 27, 0, 2 * kPi);
    cairo_fill(cr);
    cairo_new_path(cr);
    for (int i = 0; i < 6; ++i) {
        const double ang = kPi / 6 + i * kPi / 3;
        cairo_line_to(cr, cx + 26 * std::cos(ang), fy + 26 * std::sin(ang));
    }
    cairo_close_path(cr);
    cairo_pattern_t* nut = cairo_pattern_create_linear(cx - 26, fy - 26, cx + 26, fy + 26);
    cairo_pattern_add_color_stop_rgb(nut, 0, 0.92, 0.92, 0.94);
    cairo_pattern_add_color_stop_rgb(nut, 0.5, 0.50, 0.50, 0.54);
    cairo_pattern_add_color_stop_rgb(nut, 1, 0.30, 0.30, 0.33);
    cairo_set_source(cr, nut);
    cairo_fill(cr);
    cairo_pattern_destroy(nut);
    const double press = on ? 1.5 : 0.0;
    cairo_pattern_t* plunger = cairo_pattern_create_radial(cx - 5, fy - 6 + press, 2, cx, fy + press, 16);
    cairo_pattern_add_color_stop_rgb(plunger, 0, on ? 0.85 : 1.0, on ? 0.85 : 1.0, on ? 0.86 : 1.0);
    cairo_pattern_add_color_stop_rgb(plunger, 1, on ? 0.35 : 0.45, on ? 0.35 : 0.45, on ? 0.38 : 0.48);
    cairo_set_source(cr, plunger);
    cairo_arc(cr, cx, fy + press, 15, 0, 2 * kPi);
    cairo_fill(cr);
    cairo_pattern_destroy(plunger);
    cairo_set_source_rgba(cr, 0, 0, 0, 0.5);
    cairo_set_line_width(cr, 1.0);
    cairo_arc(cr, cx, fy + press, 15, 0, 2 * kPi);
    cairo_stroke(cr);

    Text(cr, module.name, cx, 160, 11.5, true, on ? Rgb{1.0, 0.97, 0.88} : kCream, 1.0);
    Text(cr, on ? "ON" : "OFF", cx, 176, 8, true, on ? a : Rgb{0.55, 0.53, 0.48}, 1.5);
}

void SmallButton(cairo_t* cr, double w, double h, bool on)
{
    const double inset = (w - 27) / 2.0;
    RoundedRect(cr, inset, 2, 27, 27, 5);
    SetVerticalGradient(cr, 2, 29, {{0, {0.90, 0.90, 0.92}}, {1, {0.32, 0.32, 0.35}}});
    cairo_fill(cr);
    RoundedRect(cr, inset + 3, 5, 21, 21, 3);
    SetVerticalGradient(cr, 5, 26, {{0, {on ? 0.16 : 0.22, on ? 0.16 : 0.22, on ? 0.17 : 0.23}}, {1, {0.06, 0.06, 0.07}}});
    cairo_fill(cr);
    Jewel(cr, w / 2.0, h / 2.0, 4.0, {1.0, 0.70, 0.15}, on);
}

void Led(cairo_t* cr, double w, double h, Rgb color, bool on)
{
    const double r = std::min(w, h) / 2.0 - 3.0;
    SetVerticalGradient(cr, 0, h, {{0, {0.88, 0.88, 0.90}}, {1, {0.30, 0.30, 0.33}}});
    cairo_arc(cr, w / 2.0, h / 2.0, r + 2.5, 0, 2 * kPi);
    cairo_fill(cr);
    Jewel(cr, w / 2.0, h / 2.0, r, color, on);
}

void Meter(cairo_t* cr, int w, int h, bool on)
{
    SetColor(cr, kMeterGlass);
    cairo_paint(cr);
    const int n = corvex::editor::kMeterSegments;
    for (int i = 0; i < n; ++i) {
        // Segment i spans the pixels the meter control lights for it.
        const int x0 = i * w / n, x1 = (i + 1) * w / n;
        Rgb c = i < 17 ? Rgb{0.20, 0.95, 0.30} : i < 22 ? Rgb{1.0, 0.85, 0.10} : Rgb{1.0, 0.18, 0.12};
        const double k = on ? 1.0 : 0.16;
        cairo_set_source_rgb(cr, c.r * k, c.g * k, c.b * k);
        cairo_rectangle(cr, x0 + 1, 4, x1 - x0 - 2, h - 8);
        cairo_fill(cr);
        if (on) {
            cairo_set_source_rgba(cr, 1, 1, 1, 0.35);
            cairo_rectangle(cr, x0 + 1, 4, x1 - x0 - 2, 2);
            cairo_fill(cr);
        }
    }
}

void AboutPlate(cairo_t* cr, double w, double h)
{
    cairo_set_source_rgba(cr, 0, 0, 0, 0.5);
    RoundedRect(cr, 3, 4, w - 5, h - 6, 4);
    cairo_fill(cr);
    RoundedRect(cr, 2, 2, w - 5, h - 6, 4);
    SetVerticalGradient(cr, 2, h - 3, {{0, {0.95, 0.95, 0.96}}, {0.5, {0.62, 0.62, 0.65}}, {1, {0.85, 0.85, 0.87}}});
    cairo_fill(cr);
    Text(cr, "ABOUT", w / 2.0 - 0.5, 17, 9, true, {0.10, 0.10, 0.12}, 1.0);
}

// The About box: the brand over dark brushed metal, what the plug-in is, its version and maker.
// Corners outside the rounded plate show the panel behind it, darkened like a shadow.
void AboutPanel(cairo_t* cr, double w, double h)
{
    cairo_set_source_rgba(cr, 0, 0, 0, 0.55);
    cairo_paint(cr);
    RoundedRect(cr, 1.5, 1.5, w - 3, h - 3, 10);
    SetVerticalGradient(cr, 0, h, {{0, {0.20, 0.20, 0.22}}, {1, {0.09, 0.09, 0.10}}});
    cairo_fill_preserve(cr);
    cairo_set_line_width(cr, 2);
    SetColor(cr, {0.62, 0.55, 0.40});
    cairo_stroke(cr);
    cairo_set_line_width(cr, 1);
    SetColor(cr, {0.62, 0.55, 0.40}, 0.5);
    cairo_move_to(cr, 40, 96.5);
    cairo_line_to(cr, w - 40, 96.5);
    cairo_stroke(cr);

    Text(cr, "Corvex", w / 2.0, 72, 48, true, kCream, 0.0, kSerif, true);
    Text(cr, "Guitar amplifier and effects processor", w / 2.0, 128, 15, false, kCream);
    Text(cr, std::string("Version ") + corvex::kVersionString, w / 2.0, 152, 12, false,
         {0.80, 0.78, 0.72});
    Text(cr, corvex::kVendor, w / 2.0, 178, 12, false, {0.80, 0.78, 0.72});
}

void OkButton(cairo_t* cr, double w, double h, bool pressed)
{
    RoundedRect(cr, 1, 1, w - 2, h - 2, 6);
    SetVerticalGradient(cr, 0, h, {{0, {pressed ? 0.55 : 0.93, pressed ? 0.50 : 0.88, pressed ? 0.40 : 0.76}}, {1, {pressed ? 0.72 : 0.68, pressed ? 0.66 : 0.62, pressed ? 0.52 : 0.48}}});
    cairo_fill_preserve(cr);
    cairo_set_line_width(cr, 1.5);
    cairo_set_source_rgb(cr, 0.05, 0.05, 0.05);
    cairo_stroke(cr);
    Text(cr, "OK", w / 2.0 + (pressed ? 1 : 0), h / 2.0 + 6 + (pressed ? 1 : 0), 16, true, {0.12, 0.11, 0.10});
}

// The impulse-response badge's empty plate: smoked glass on the cloth, a thin cream rim.
void BadgePlate(cairo_t* cr, double w, double h)
{
    RoundedRect(cr, 0.5, 0.5, w - 1, h - 1, 7);
    cairo_set_source_rgba(cr, 0.03, 0.025, 0.02, 0.82);
    cairo_fill_preserve(cr);
    SetColor(cr, {0.86, 0.80, 0.66}, 0.55);
    cairo_set_line_width(cr, 1.0);
    cairo_stroke(cr);
}

struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;
};

Image ToRgb(cairo_surface_t* surface)
{
    cairo_surface_flush(surface);
    Image image;
    image.width = cairo_image_surface_get_width(surface);
    image.height = cairo_image_surface_get_height(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    image.rgb.reserve(std::size_t(image.width) * image.height * 3);
    for (int y = 0; y < image.height; ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(data + std::size_t(y) * stride);
        for (int x = 0; x < image.width; ++x) {
            image.rgb.push_back(std::uint8_t(row[x] >> 16));
            image.rgb.push_back(std::uint8_t(row[x] >> 8));
            image.rgb.push_back(std::uint8_t(row[x]));
        }
    }
    return image;
}

// Draws `frames` images of w x h stacked vertically, each over the background at (left, top).
Image Strip(cairo_surface_t* background, int left, int top, int w, int h, int frames,
            const std::function<void(cairo_t*, int)>& draw)
{
    cairo_surface_t* surface = NewSurface(w, h * frames);
    cairo_t* cr = cairo_create(surface);
    for (int f = 0; f < frames; ++f) {
        cairo_save(cr);
        cairo_rectangle(cr, 0, f * h, w, h);
        cairo_clip(cr);
        cairo_set_source_surface(cr, background, -left, f * h - top);
        cairo_paint(cr);
        cairo_translate(cr, 0, f * h);
        draw(cr, f);
        cairo_restore(cr);
    }
    cairo_destroy(cr);
    Image image = ToRgb(surface);
    cairo_surface_destroy(surface);
    return image;
}

bool EncodePng(const Image& image, std::vector<unsigned char>& png)
{
    png_image info;
    std::memset(&info, 0, sizeof info);
    info.version = PNG_IMAGE_VERSION;
    info.width = png_uint_32(image.width);
    info.height = png_uint_32(image.height);
    info.format = PNG_FORMAT_RGB;
    png_alloc_size_t bytes = 0;
    if (png_image_write_to_memory(&info, nullptr, &bytes, 0, image.rgb.data(), 0, nullptr) == 0)
        return false;
    png.resize(bytes);
    return png_image_write_to_memory(&info, png.data(), &bytes, 0, image.rgb.data(), 0, nullptr) != 0;
}

bool WriteFile(const std::string& path, const std::vector<unsigned char>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out);
}

// The editor's text font: each glyph white on black in its cell, its advance width lit along the
// cell's last row (see gui/BitmapFont.h).
Image FontAtlas()
{
    using namespace corvex::gui;
    const int rows = (kFontGlyphCount + kFontColumns - 1) / kFontColumns;
    cairo_surface_t* surface = NewSurface(kFontColumns * kFontCellWidth, rows * kFontCellHeight);
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_paint(cr);
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_ON);
    cairo_set_font_options(cr, options);
    cairo_font_options_destroy(options);
    cairo_select_font_face(cr, kSans, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, kFontSize);
    for (int i = 0; i < kFontGlyphCount; ++i) {
        const double left = (i % kFontColumns) * kFontCellWidth, top = (i / kFontColumns) * kFontCellHeight;
        // The code point as UTF-8.
        const char32_t c = FontCodePoint(i);
        std::string utf8;
        if (c < 0x80) {
            utf8 += char(c);
        } else if (c < 0x800) {
            utf8 += char(0xC0 | (c >> 6));
            utf8 += char(0x80 | (c & 0x3F));
        } else {
            utf8 += char(0xE0 | (c >> 12));
            utf8 += char(0x80 | ((c >> 6) & 0x3F));
            utf8 += char(0x80 | (c & 0x3F));
        }
        cairo_text_extents_t e;
        cairo_text_extents(cr, utf8.c_str(), &e);
        // Layout advances are whole pixels, so the double-size text is the same text twice as big.
        const int advance = std::min(int(std::lround(e.x_advance)), kFontCellWidth - kFontPenX);
        cairo_save(cr);
        cairo_rectangle(cr, left, top, kFontCellWidth, kFontCellHeight - 1);
        cairo_clip(cr);
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_move_to(cr, left + kFontPenX, top + kFontBaseline);
        cairo_show_text(cr, utf8.c_str());
        cairo_restore(cr);
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_rectangle(cr, left, top + kFontCellHeight - 1, advance, 1);
        cairo_fill(cr);
    }
    cairo_destroy(cr);
    Image image = ToRgb(surface);
    cairo_surface_destroy(surface);
    return image;
}

// Every bitmap of the editor at the current scale, by resource identifier.
std::map<int, Image> DrawAll()
{
    using namespace corvex::editor;
    cairo_surface_t* background = NewSurface(kEditorWidth, kEditorHeight);
    Tolex(background);
    cairo_t* cr = cairo_create(background);
    Background(cr);
    cairo_destroy(cr);

    std::map<int, Image> images;
    images[kBackgroundBitmap] = ToRgb(background);

    for (const ControlLayout& c : kControlLayouts) {
        const int w = c.width(), h = c.height();
        switch (c.kind) {
        case ControlKind::AnimKnob:
            images[c.bitmap] = Strip(background, c.left, c.top, w, h, c.frames,
                                     [&](cairo_t* k, int f) { Knob(k, w, h, f); });
            break;
        case ControlKind::OnOffButton: {
            const Module* module = nullptr;
            for (const Module& m : kModules)
                if (m.id == c.id)
                    module = &m;
            images[c.bitmap] = Strip(background, c.left, c.top, w, h, c.frames, [&](cairo_t* k, int f) {
                if (module != nullptr)
                    SwitchTile(k, w, h, *module, c.left, f == 1);
                else
                    SmallButton(k, w, h, f == 1);
            });
            break;
        }
        case ControlKind::MovieBitmap: {
            const Rgb color = c.id == corvex::kCompressionLed ? Rgb{1.0, 0.72, 0.10} : Rgb{1.0, 0.12, 0.08};
            images[c.bitmap] = Strip(background, c.left, c.top, w, h, c.frames,
                                     [&](cairo_t* k, int f) { Led(k, w, h, color, f == 1); });
            break;
        }
        case ControlKind::VuMeter:
            images[c.bitmap] = Strip(background, c.left, c.top, w, h, 1, [&](cairo_t* k, int) { Meter(k, w, h, true); });
            images[c.offBitmap] =
                Strip(background, c.left, c.top, w, h, 1, [&](cairo_t* k, int) { Meter(k, w, h, false); });
            break;
        case ControlKind::KickButton:
            images[c.bitmap] = Strip(background, c.left, c.top, w, h, 1, [&](cairo_t* k, int) { AboutPlate(k, w, h); });
            break;
        }
    }
    images[kAboutDialogResource] = Strip(background, kAboutLeft, kAboutTop, kAboutWidth, kAboutHeight, 1,
                                         [&](cairo_t* k, int) { AboutPanel(k, kAboutWidth, kAboutHeight); });
    // The OK button sits on the About panel, so its images start from the panel, not the background.
    {
        cairo_surface_t* panel = NewSurface(kEditorWidth, kEditorHeight);
        cairo_t* p = cairo_create(panel);
        cairo_set_source_surface(p, background, 0, 0);
        cairo_paint(p);
        cairo_translate(p, kAboutLeft, kAboutTop);
        cairo_rectangle(p, 0, 0, kAboutWidth, kAboutHeight);
        cairo_clip(p);
        AboutPanel(p, kAboutWidth, kAboutHeight);
        cairo_destroy(p);
        images[kAboutOkBitmap] = Strip(panel, kAboutOkLeft, kAboutOkTop, kAboutOkWidth, kAboutOkHeight, 2,
                                       [&](cairo_t* k, int f) { OkButton(k, kAboutOkWidth, kAboutOkHeight, f == 1); });
        cairo_surface_destroy(panel);
    }
    images[kImpulseBadgeBitmap] =
        Strip(background, kImpulseBadgeLeft, kImpulseBadgeTop, kImpulseBadgeWidth, kImpulseBadgeHeight, 1,
              [&](cairo_t* k, int) { BadgePlate(k, kImpulseBadgeWidth, kImpulseBadgeHeight); });
    images[kFontBitmap] = FontAtlas();
    cairo_surface_destroy(background);

    return images;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <output directory>\n", argv[0]);
        return 2;
    }
    const std::string outDir = argv[1];
    for (int scale : {1, 2}) {
        g_iScale = scale;
        for (const auto& [id, image] : DrawAll()) {
            std::vector<unsigned char> png;
            if (!EncodePng(image, png)) {
                std::fprintf(stderr, "cannot encode bitmap %d\n", id);
                return 1;
            }
            const std::string name = "bitmap" + std::to_string(id) + (scale == 1 ? "" : "@2x") + ".png";
            if (!WriteFile(outDir + "/" + name, png)) {
                std::fprintf(stderr, "cannot write %s into %s\n", name.c_str(), outDir.c_str());
                return 1;
            }
            std::printf("%s: %d x %d, %zu bytes\n", name.c_str(), image.width, image.height, png.size());
        }
    }
    return 0;
}
