#include "media/display_path.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "platform/ini_file.h"
#include "platform/paths.h"

namespace media {
namespace {

std::string Lower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    return lower;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    return text;
}

bool Present(const char* value) { return value != nullptr && !Trim(value).empty(); }

DisplayPreference FromText(std::string_view text, std::string source) {
    bool known = true;
    const DisplayChoice choice = ParseDisplayChoice(text, &known);
    if (!known) source += " (unrecognised value '" + std::string(Trim(text)) + "', taken as auto)";
    return {choice, std::move(source)};
}

}  // namespace

DisplayChoice ParseDisplayChoice(std::string_view text, bool* known) {
    const std::string value = Lower(Trim(text));
    if (known) *known = true;
    if (value == "gpu") return DisplayChoice::kGpu;
    if (value == "software") return DisplayChoice::kSoftware;
    if (known) *known = value.empty() || value == "auto";
    return DisplayChoice::kAuto;
}

DisplayPreference ResolveDisplayPreference(const char* displayVariable, const char* noGpuVariable,
                                           const std::string& settingsValue) {
    if (Present(displayVariable)) return FromText(displayVariable, "LARKVIEW_DISPLAY");
    if (Present(noGpuVariable)) return {DisplayChoice::kSoftware, "LARKVIEW_NO_GPU"};
    if (!Trim(settingsValue).empty()) return FromText(settingsValue, "appConfig.ini [Display] VideoOutput");
    return {DisplayChoice::kAuto, "default"};
}

DisplayPreference ReadDisplayPreference() {
    const std::string settings = platform::JoinPath(platform::SettingsDirectory(), "appConfig.ini");
    return ResolveDisplayPreference(std::getenv("LARKVIEW_DISPLAY"), std::getenv("LARKVIEW_NO_GPU"),
                                    platform::ReadProfileString("Display", "VideoOutput", "", settings));
}

bool IsSoftwareRenderer(std::string_view renderer, std::string_view vendor) {
    const std::string text = Lower(renderer) + " " + Lower(vendor);
    // llvmpipe and softpipe (Gallium), swrast (classic Mesa), lavapipe under zink,
    // SwiftShader, Windows' own fall-backs.
    for (const char* name : {"llvmpipe", "softpipe", "swrast", "software rasterizer", "lavapipe", "swiftshader",
                             "basic render driver", "gdi generic"})
        if (text.find(name) != std::string::npos) return true;
    return false;
}

DisplayDecision DecideDisplayPath(const DisplayPreference& preference, const GlCapabilities& gl) {
    const std::string renderer = gl.renderer.empty() ? std::string("unknown renderer") : gl.renderer;
    if (preference.choice == DisplayChoice::kSoftware)
        return {false, "software path chosen by " + preference.source};
    // Forcing the GPU path cannot make up for what the platform lacks: a widget that
    // cannot be shown would crash, so these fall back whatever the choice.
    if (!gl.platformHostsGl)
        return {false, "platform '" + gl.platform + "' cannot show OpenGL windows"};
    if (!gl.contextMade) return {false, "no OpenGL context on platform '" + gl.platform + "'"};
    if (!gl.desktopGl) return {false, "OpenGL ES only (" + renderer + ")"};
    const bool software = IsSoftwareRenderer(gl.renderer, gl.vendor);
    if (preference.choice == DisplayChoice::kGpu)
        return {true, std::string("GPU path chosen by ") + preference.source + " (" + renderer +
                          (software ? ", a software renderer)" : ")")};
    if (software) return {false, "software OpenGL renderer " + renderer + " would shade on the CPU"};
    return {true, "hardware OpenGL renderer " + renderer + " (" + gl.vendor + ")"};
}

}  // namespace media
