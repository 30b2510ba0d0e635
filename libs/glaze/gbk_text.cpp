#include "libs/glaze/gbk_text.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>

namespace glaze {
namespace {

// One converter per thread: iconv descriptors keep shift state and are not shared.
class GbkConverter {
public:
    GbkConverter() : cd_(iconv_open("UTF-32LE", "GBK")) {}
    ~GbkConverter() {
        if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
    }
    bool Usable() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    std::u32string Decode(const char* text, std::size_t length) {
        std::u32string out;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // fresh state
        char* in = const_cast<char*>(text);
        std::size_t inLeft = length;
        while (inLeft > 0) {
            char buffer[256];
            char* outPtr = buffer;
            std::size_t outLeft = sizeof buffer;
            const std::size_t result = iconv(cd_, &in, &inLeft, &outPtr, &outLeft);
            Append(out, buffer, sizeof buffer - outLeft);
            if (result != static_cast<std::size_t>(-1)) continue;
            if (errno == E2BIG) continue;
            // EILSEQ or an incomplete tail: mark it and step over one byte.
            out.push_back(U'\uFFFD');
            ++in;
            --inLeft;
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        }
        return out;
    }

private:
    static void Append(std::u32string& out, const char* bytes, std::size_t count) {
        for (std::size_t i = 0; i + 4 <= count; i += 4) {
            char32_t c = 0;
            for (int b = 3; b >= 0; --b) c = (c << 8) | static_cast<unsigned char>(bytes[i + b]);
            out.push_back(c);
        }
    }
    iconv_t cd_;
};

}  // namespace

std::u32string DecodeGbk(const char* text, std::size_t size) {
    if (text == nullptr) return {};
    const void* zero = std::memchr(text, 0, size);
    const std::size_t length = zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - text) : size;
    thread_local GbkConverter converter;
    if (!converter.Usable()) {
        // No GBK converter on this system: keep what is plain ASCII.
        std::u32string out;
        for (std::size_t i = 0; i < length; ++i) {
            const auto c = static_cast<unsigned char>(text[i]);
            out.push_back(c < 0x80 ? c : U'\uFFFD');
        }
        return out;
    }
    return converter.Decode(text, length);
}

}  // namespace glaze
