#pragma once
// vdec: turns H.264 access units (Annex B byte stream, start codes included) into
// planar YUV 4:2:0 pictures.
//
// How the exports are bound on Linux (ELF):
//   - The four functions below have C linkage (extern "C"), so their symbol names are
//     exactly InitDeCode, DeCoder, DeCoderEx and ReleaseDeCode, without C++ name
//     mangling, and use the platform's default calling convention (System V AMD64).
//   - The library is compiled with hidden visibility and linked with a version script
//     (exports.map); only these four symbols carry default visibility and appear in
//     the dynamic symbol table. The program links against libvdec.so at build time and
//     finds it next to itself at run time (RUNPATH $ORIGIN).
//   - The reference parameters (int&) are passed as pointers by the ABI; callers
//     written in C++ include this header as it is.
//
// Handles: a handle is an `unsigned long` (64 bits on Linux, 32 bits on Windows). It is
// NOT the decoder's address: it is a serial number handed out by the library, starting
// at 1 and increasing with every InitDeCode. 0 never names a decoder. A released
// handle is not given out again while the library stays loaded (a counter of the
// handle's width would have to wrap first; if it ever does, 0 and handles still in use
// are skipped), so a stale handle can never reach somebody else's decoder. Handles are
// not valid across loads of the library.
//
// Output picture, for a decoded picture of W x H pixels: Y plane (H rows of W bytes) at
// offset 0, V (Cr) plane (H/2 rows of W/2 bytes) at offset W*H, U (Cb) plane (H/2 rows
// of W/2 bytes) at offset W*H*5/4; all divisions are integer divisions; no row padding;
// total W*H*3/2 bytes. 4:2:2 and 4:4:4 streams (8 bits per sample) are converted to this
// layout by averaging neighbouring chroma samples; pictures of any other sample format
// (for example 10-bit) are refused.
//
// Threads: any thread may call any export. Calls on different handles run in
// parallel; calls on the same handle are serialised by the library. Releasing a handle
// while another thread decodes on it is safe: the decoder is closed when that decode
// returns.

#define VDEC_API extern "C" __attribute__((visibility("default")))

// Creates a decoder. Returns its handle, or 0 when no decoder could be made.
VDEC_API unsigned long InitDeCode();

// Decodes one whole access unit. Returns 1 when a picture was written to `picture`
// (which must hold the picture's W*H*3/2 bytes: the caller knows the size beforehand)
// and sets `consumed` to dataLen; 0 otherwise, leaving `picture` and `consumed`
// untouched. Prefer DeCoderEx, which cannot write past the buffer.
VDEC_API int DeCoder(unsigned long handle, char* data, int dataLen, char* picture, int& consumed);

// The bounded form of DeCoder. Results:
//    1  a picture of width x height was written to `picture`; `consumed`, `width`,
//       `height` are set;
//    0  no picture (bad handle or arguments, parameter sets alone, decoder error, or a
//       picture still held back for reordering); nothing is written;
//   kVdecBufferTooSmall  a picture was decoded but needs more than `pictureCapacity`
//       bytes; `width` and `height` report its size (`consumed` is set) and nothing is
//       written to `picture`: grow the buffer to width*height*3/2 for the next one.
//   kVdecUnsupportedFormat  a picture was decoded in a sample format that cannot be
//       turned into 8-bit 4:2:0; `width`, `height` and `consumed` are set, nothing is
//       written.
VDEC_API int DeCoderEx(unsigned long handle, char* data, int dataLen, char* picture, int pictureCapacity,
                       int& consumed, int& width, int& height);

// Releases a decoder: true when the handle was registered and is now released, false
// otherwise.
VDEC_API bool ReleaseDeCode(unsigned long handle);

constexpr int kVdecBufferTooSmall = -1;
constexpr int kVdecUnsupportedFormat = -2;
