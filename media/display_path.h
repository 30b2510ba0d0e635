#pragma once
// Which way pictures reach the screen: the GPU path (textures converted by a shader,
// surface types 0 and 2) or the software path (our own conversion, type 1). The GPU
// path needs a window system that can show an OpenGL widget and a hardware renderer:
// Mesa's software renderers (llvmpipe and the like) run the shader on the CPU and cost
// about three times our own conversion. The user can force either path.

#include <string>
#include <string_view>

namespace media {

enum class DisplayChoice { kAuto, kGpu, kSoftware };

// The user's choice and where it came from ("LARKVIEW_DISPLAY", "appConfig.ini", ...).
struct DisplayPreference {
    DisplayChoice choice = DisplayChoice::kAuto;
    std::string source;
};

// "gpu", "software" or "auto", in any case, blanks around ignored. Anything else is
// auto, with `known` set false (so that a typo can be logged).
DisplayChoice ParseDisplayChoice(std::string_view text, bool* known = nullptr);

// The environment (LARKVIEW_DISPLAY, and the older LARKVIEW_NO_GPU meaning software)
// wins over the settings file's [Display] VideoOutput. Empty or null values are absent.
DisplayPreference ResolveDisplayPreference(const char* displayVariable, const char* noGpuVariable,
                                           const std::string& settingsValue);
// The same, from this process's environment and the program directory's appConfig.ini.
DisplayPreference ReadDisplayPreference();

// Mesa's and other vendors' CPU rasterisers, by their GL_RENDERER / GL_VENDOR text.
bool IsSoftwareRenderer(std::string_view renderer, std::string_view vendor);

// What the window system and OpenGL offer this process.
struct GlCapabilities {
    std::string platform;           // the Qt platform plugin
    bool platformHostsGl = false;   // it can show an OpenGL widget in a window
    bool contextMade = false;       // an OpenGL context could be made current
    bool desktopGl = false;         // it is desktop OpenGL, not OpenGL ES
    std::string renderer;
    std::string vendor;
};

struct DisplayDecision {
    bool gpu = false;
    std::string reason;  // for the log
};

DisplayDecision DecideDisplayPath(const DisplayPreference& preference, const GlCapabilities& gl);

}  // namespace media
