#include "media/gl_video_presenter.h"

#include <QPainter>
#include <mutex>

#include "media/video_output_widget.h"

namespace media {
namespace {

const char* kVertexShader = R"(
attribute vec2 position;
attribute vec2 texcoord;
varying vec2 v_tex;
void main() {
    gl_Position = vec4(position, 0.0, 1.0);
    v_tex = texcoord;
}
)";

// BT.601 studio range; y, u, v are 0..255.
const char* kConvert = R"(
vec4 Bt601(float y, float u, float v) {
    float l = 1.164 * (y - 16.0);
    float du = u - 128.0;
    float dv = v - 128.0;
    vec3 rgb = vec3(l + 1.596 * dv, l - 0.391 * du - 0.813 * dv, l + 2.018 * du) / 255.0;
    return vec4(clamp(rgb, 0.0, 1.0), 1.0);
}
)";

// Each texel holds Y0, U, Y1, V of two pixels.
const char* kPackedShader = R"(
uniform sampler2D packedTexture;
uniform float pictureWidth;
uniform float pairs;
varying vec2 v_tex;
void main() {
    float column = min(floor(v_tex.x * pictureWidth), pictureWidth - 1.0);
    float pair = floor(column / 2.0);
    vec4 texel = texture2D(packedTexture, vec2((pair + 0.5) / pairs, v_tex.y));
    float y = mod(column, 2.0) < 0.5 ? texel.r : texel.b;
    gl_FragColor = Bt601(y * 255.0, texel.g * 255.0, texel.a * 255.0);
}
)";

const char* kPlanarShader = R"(
uniform sampler2D lumaTexture;
uniform sampler2D vTexture;
uniform sampler2D uTexture;
varying vec2 v_tex;
void main() {
    gl_FragColor = Bt601(texture2D(lumaTexture, v_tex).r * 255.0, texture2D(uTexture, v_tex).r * 255.0,
                         texture2D(vTexture, v_tex).r * 255.0);
}
)";

const GLfloat kQuad[] = {
    // position, texcoord (row 0 of the picture at the top)
    -1.f, -1.f, 0.f, 1.f,  1.f, -1.f, 1.f, 1.f,  -1.f, 1.f, 0.f, 0.f,  1.f, 1.f, 1.f, 0.f,
};

bool Build(QOpenGLShaderProgram& program, const char* fragment) {
    const QByteArray source = QByteArray(kConvert) + fragment;
    return program.addShaderFromSourceCode(QOpenGLShader::Vertex, kVertexShader) &&
           program.addShaderFromSourceCode(QOpenGLShader::Fragment, source) &&
           (program.bindAttributeLocation("position", 0), program.bindAttributeLocation("texcoord", 1), program.link());
}

}  // namespace

GlVideoPresenter::GlVideoPresenter(VideoOutputWidget* owner) : QOpenGLWidget(owner), owner_(owner) {}

GlVideoPresenter::~GlVideoPresenter() {
    if (!context()) return;
    makeCurrent();
    ReleaseTextures();
    overlayDevice_.reset();
    doneCurrent();
}

void GlVideoPresenter::initializeGL() {
    initializeOpenGLFunctions();
    textures_[0] = textures_[1] = textures_[2] = 0;  // a new context has none of the old ones
    overlayDevice_.reset();
    uploadedFrom_ = 0;
    programsReady_ = Build(packed_, kPackedShader) && Build(planar_, kPlanarShader);
}

void GlVideoPresenter::ReleaseTextures() {
    if (textures_[0]) glDeleteTextures(3, textures_);
    textures_[0] = textures_[1] = textures_[2] = 0;
    uploadedFrom_ = 0;
}

bool GlVideoPresenter::Upload(DisplaySurface& surface) {
    if (uploadedFrom_ == surface.Serial() && uploadedGeneration_ == surface.Generation()) return true;
    if (!textures_[0]) glGenTextures(3, textures_);
    const int width = surface.Width();
    const int height = surface.Height();
    const std::uint8_t* bits = surface.Bits();
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    auto load = [&](GLuint texture, GLint format, int w, int h, int rowLength, const std::uint8_t* pixels, GLint filter) {
        glBindTexture(GL_TEXTURE_2D, texture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, rowLength);
        glTexImage2D(GL_TEXTURE_2D, 0, format, w, h, 0, static_cast<GLenum>(format), GL_UNSIGNED_BYTE, pixels);
    };
    if (surface.Type() == kSurfaceYuy2) {
        // Neighbouring texels hold different pixels' luma: never blend them.
        load(textures_[0], GL_RGBA, (width + 1) / 2, height, surface.Pitch() / 4, bits, GL_NEAREST);
    } else {
        const int pitch = surface.Pitch();
        const int cw = std::max(1, width / 2);
        const int ch = std::max(1, height / 2);
        const std::uint8_t* second = bits + static_cast<std::size_t>(pitch) * height;
        const std::uint8_t* third = second + static_cast<std::size_t>(pitch / 2) * (height / 2);
        load(textures_[0], GL_LUMINANCE, width, height, pitch, bits, GL_LINEAR);
        // Each chroma sample serves its 2 x 2 block, as on the software path.
        load(textures_[1], GL_LUMINANCE, cw, ch, pitch / 2, second, GL_NEAREST);
        load(textures_[2], GL_LUMINANCE, cw, ch, pitch / 2, third, GL_NEAREST);
    }
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    uploadedFrom_ = surface.Serial();
    uploadedGeneration_ = surface.Generation();
    return glGetError() == GL_NO_ERROR;
}

void GlVideoPresenter::paintGL() {
    glClearColor(56 / 255.f, 60 / 255.f, 61 / 255.f, 1.f);
    glClear(GL_COLOR_BUFFER_BIT);
    DrawPicture();
    if (!owner_->HasOverlay()) return;
    // This widget covers its owner: the owner's caption and other texts go on top of
    // the picture here, or they would stay hidden behind it. The painter works on the
    // framebuffer itself: a painter on the widget would be redirected while the widget
    // is grabbed, and the picture would then cover what it drew.
    if (!overlayDevice_) overlayDevice_ = std::make_unique<QOpenGLPaintDevice>();
    overlayDevice_->setSize(size() * devicePixelRatio());
    overlayDevice_->setDevicePixelRatio(devicePixelRatio());
    QPainter painter(overlayDevice_.get());
    owner_->PaintOverlay(painter, rect());
}

void GlVideoPresenter::DrawPicture() {
    const std::shared_ptr<DisplaySurface> surface = owner_->Target()->Current();
    if (!programsReady_ || !surface || surface->Type() == kSurfacePlain) return;
    std::lock_guard lock(surface->Mutex());
    if (!Upload(*surface)) return;

    QOpenGLShaderProgram& program = surface->Type() == kSurfaceYuy2 ? packed_ : planar_;
    program.bind();
    if (surface->Type() == kSurfaceYuy2) {
        glActiveTexture(GL_TEXTURE0);
        glBindTexture(GL_TEXTURE_2D, textures_[0]);
        program.setUniformValue("packedTexture", 0);
        program.setUniformValue("pictureWidth", static_cast<GLfloat>(surface->Width()));
        program.setUniformValue("pairs", static_cast<GLfloat>((surface->Width() + 1) / 2));
    } else {
        const char* names[3] = {"lumaTexture", "vTexture", "uTexture"};
        for (int i = 0; i < 3; ++i) {
            glActiveTexture(GL_TEXTURE0 + i);
            glBindTexture(GL_TEXTURE_2D, textures_[i]);
            program.setUniformValue(names[i], i);
        }
        glActiveTexture(GL_TEXTURE0);
    }
    program.enableAttributeArray(0);
    program.enableAttributeArray(1);
    program.setAttributeArray(0, GL_FLOAT, kQuad, 2, 4 * sizeof(GLfloat));
    program.setAttributeArray(1, GL_FLOAT, kQuad + 2, 2, 4 * sizeof(GLfloat));
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    program.disableAttributeArray(0);
    program.disableAttributeArray(1);
    program.release();
}

}  // namespace media
