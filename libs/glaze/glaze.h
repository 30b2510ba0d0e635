#pragma once
// Glaze: on-screen text drawn into planar YUV 4:2:0 pictures (Y plane, then V, then
// U, no row padding) in place. The three calls have C linkage and the platform's
// default calling convention.
//
// The caller describes what to draw in one 840-byte block (five text entries of 152
// bytes, then four further entries of 20 bytes) and the picture in a small
// description. All integers are little-endian 32-bit values.
//
// Text entry, as Glaze reads it:
//   enabled     0 = the entry is skipped
//   x, y        the top-left corner of the text, in pixels of the picture
//   fontIndex   0 small (16 px), 1 medium (24 px), 2 large (32 px); others are clamped
//   style       0 = red text (the recording mark), anything else = white text; both
//               carry a dark outline so that they stay legible on any background
//   anchor      'L' the text starts at x; 'R' it ends at x; 'C' it is centred on x;
//               any other value counts as 'L'
//   text        GBK, zero-terminated within the 128 bytes
// A text that would cross the picture's right or bottom edge is moved left or up just
// enough to stay whole; nothing is ever written outside the picture.
// The four further entries are reserved: Glaze ignores them.

#include <cstddef>
#include <cstdint>

#define GLAZE_API extern "C" __attribute__((visibility("default")))

struct GLZ_TEXT_ENTRY {
    std::int32_t enabled;
    std::int32_t x;
    std::int32_t y;
    std::int32_t fontIndex;
    std::int32_t style;
    char anchor;
    char reserved[3];
    char text[128];
};

struct GLZ_EXTRA_ENTRY {
    std::int32_t fields[5];
};

struct GLZ_OSD {
    GLZ_TEXT_ENTRY texts[5];
    GLZ_EXTRA_ENTRY extras[4];
};

// The picture: W*H luma bytes, then (W/2)*(H/2) V bytes at W*H, then as many U bytes
// at W*H*5/4 (integer divisions). On 32-bit platforms this is the 16-byte
// description (pointer, width, height, 0); with 64-bit pointers it grows to 24 bytes.
struct GLZ_PICTURE {
    unsigned char* picture;
    std::int32_t width;
    std::int32_t height;
    std::int32_t reserved;  // 0
};

static_assert(sizeof(GLZ_TEXT_ENTRY) == 152);
static_assert(sizeof(GLZ_EXTRA_ENTRY) == 20);
static_assert(sizeof(GLZ_OSD) == 840);
static_assert(offsetof(GLZ_TEXT_ENTRY, anchor) == 20 && offsetof(GLZ_TEXT_ENTRY, text) == 24);
static_assert(offsetof(GLZ_OSD, extras) == 760);
static_assert(sizeof(void*) != 4 || sizeof(GLZ_PICTURE) == 16);

// A new mixer handle (> 0), or 0 when none could be made. Each handle keeps its own
// font and rendered-text cache; a handle may be used from any thread.
GLAZE_API int GLZ_Initialize();

// Draws every enabled text entry of `osd` into `picture`. Unknown handles, missing
// arguments and pictures of no size are ignored.
GLAZE_API void GLZ_MixOSD(int mixer, const GLZ_OSD* osd, const GLZ_PICTURE* picture);

GLAZE_API void GLZ_Uninitialize(int mixer);
