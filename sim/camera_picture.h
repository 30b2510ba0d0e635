#pragma once
// The pictures of the synthetic cameras. Every camera looks at its own scene, twice
// as wide and high as one picture, whose colours and pattern come from the camera id;
// pan-tilt-zoom moves the view over it. The camera's name, id and a clock are drawn
// on top, and a marker sweeps along the bottom edge so that motion shows.

#include <cstdint>
#include <string>

class QImage;

namespace sim {

// Where the camera looks: the view's centre as fractions of the scene, the zoom
// (1 = half the scene's width in view, up to 4), and the iris (-5 dark .. 5 bright).
struct SceneView {
    double centerX = 0.5;
    double centerY = 0.5;
    double zoom = 1.0;
    int iris = 0;

    // Keeps the view inside the scene and the zoom and iris in range.
    void Clamp();
    bool operator==(const SceneView&) const = default;
};

struct PictureText {
    std::string cameraId;
    std::string name;
    std::string clock;         // "YYYY-MM-DD HH:MM:SS"
    std::string label;         // e.g. "回放" for recordings; may be empty
    int frameIndex = 0;        // the marker's position: frameIndex / frameCount of the width
    int frameCount = 1;
};

// A stable 32-bit hash of a camera id (FNV-1a), the seed of its colours and pattern.
std::uint32_t CameraSeed(const std::string& cameraId);

// Draws into `image` (QImage::Format_RGB32, any size). Text needs a QGuiApplication
// (Qt's fonts); without one the picture is drawn without it.
void DrawCameraPicture(QImage& image, const PictureText& text, const SceneView& view);
bool CameraPictureHasText();

}  // namespace sim
