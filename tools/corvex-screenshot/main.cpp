// Renders the Corvex editor offscreen to a PNG.
//
//   corvex-screenshot [--scale S] [--tuner HZ] OUTPUT.png [id=value ...]
//
// --scale draws the editor at S device pixels per layout pixel (0.5 to 4; default 1), as a host
// that scales plug-in views would show it.
// --tuner shows the tuner reading a string at HZ (A4 = 440 Hz).
// Each id=value sets parameter `id` (1 to 19) to a normalised value through the controller, as
// a host would; meters and LEDs (13 to 17) show after one editor tick, as in the plug-in.

#include "CorvexEditorView.h"
#include "corvexcontroller.h"
#include "gui/Bitmap.h"
#include "version.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    using namespace Steinberg;
    CLI::App app{"Renders the Corvex editor offscreen to a PNG file.", "corvex-screenshot"};
    app.set_version_flag("--version", std::string("corvex-screenshot ") + corvex::kVersionString);
    std::string scaleText = "1";
    std::string output;
    std::vector<std::string> settings;
    double tunerHertz = 0.0;
    app.add_option("--scale", scaleText, "Device pixels per layout pixel, 0.5 to 4 (default 1)")->type_name("S");
    app.add_option("--tuner", tunerHertz, "Show the tuner reading a string at HZ")
        ->type_name("HZ")
        ->check(CLI::Range(corvex::CPitchDetector::kMinHertz, corvex::CPitchDetector::kMaxHertz));
    app.add_option("OUTPUT", output, "PNG file to write")->required();
    app.add_option("SETTINGS", settings, "Parameters to set first, as id=value: id 1 to 19, value normalised 0 to 1")
        ->type_name("ID=VALUE");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 2;
    }
    const double scale = corvex::CEditorBase::ParseScale(scaleText.c_str());
    if (scale == 0.0) {
        std::fprintf(stderr, "--scale: expected a number from %g to %g, got '%s'\n", corvex::CEditorBase::kMinScale,
                     corvex::CEditorBase::kMaxScale, scaleText.c_str());
        return 2;
    }
    auto* controller = new corvex::CorvexController();
    if (controller->initialize(nullptr) != kResultOk) {
        std::fprintf(stderr, "the controller did not initialise\n");
        return 1;
    }
    IPlugView* view = controller->createView("editor");
    auto* editor = dynamic_cast<corvex::CorvexEditorView*>(view);
    int status = 1;
    static int offscreenParent = 0;
    if (editor != nullptr)
        editor->setContentScaleFactor(float(scale));
    if (editor == nullptr || view->attached(&offscreenParent, corvex::CEditorBase::kPlatformTypeOffscreen) != kResultOk) {
        std::fprintf(stderr, "the editor did not open\n");
    } else {
        status = 0;
        for (const std::string& arg : settings) {
            const auto eq = arg.find('=');
            char* end = nullptr;
            const long id = eq == std::string::npos ? 0 : std::strtol(arg.c_str(), &end, 10);
            if (eq == std::string::npos || end != arg.c_str() + eq || id < 1 || id > 19) {
                std::fprintf(stderr, "SETTINGS: expected id=value with id 1 to 19, got '%s'\n", arg.c_str());
                status = 2;
                continue;
            }
            controller->setParamNormalized(Vst::ParamID(id), std::strtod(arg.c_str() + eq + 1, nullptr));
        }
        if (tunerHertz > 0.0) {
            corvex::PitchReading reading{true, tunerHertz, 0, 0.0};
            corvex::CPitchDetector::NoteOf(tunerHertz, corvex::CPitchDetector::kDefaultReference, reading.iNote,
                                           reading.dCents);
            editor->showTuner(true);
            editor->showTunerReading(reading);
        }
        editor->onTimer();
        const corvex::gui::COffscreenContext& pixels = editor->getFrame()->getOffscreen();
        std::vector<unsigned char> png;
        if (status == 0 && corvex::gui::EncodePng(pixels.getWidth(), pixels.getHeight(), pixels.pixels(), png)) {
            std::ofstream out(output, std::ios::binary);
            out.write(reinterpret_cast<const char*>(png.data()), std::streamsize(png.size()));
            if (!out) {
                std::fprintf(stderr, "cannot write %s\n", output.c_str());
                status = 1;
            }
        } else if (status == 0) {
            std::fprintf(stderr, "cannot encode the image\n");
            status = 1;
        }
        view->removed();
    }
    if (view != nullptr)
        view->release();
    controller->terminate();
    controller->release();
    return status;
}
