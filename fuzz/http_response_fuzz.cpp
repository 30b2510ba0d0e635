// Arbitrary bytes as the server's side of an HTTP exchange: the response reader with
// small limits and fuzzer-chosen receive sizes, then the lookup answer parser.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>

#include "control/http_response_reader.h"
#include "control/master_http.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    control::HttpLimits limits;
    limits.maxHeaderBytes = 1 + data[0] * 2u;
    limits.maxBodyBytes = 1 + data[1] * 8u;
    const std::size_t piece = data[0] % 13 + 1;
    const std::string stream(reinterpret_cast<const char*>(data + 2), size - 2);

    control::BufferSource source(stream, piece);
    std::string header, body;
    control::ResponseEnd end = control::ReadHttpResponse(source, limits, header, body);
    if (header.size() > limits.maxHeaderBytes || body.size() > limits.maxBodyBytes) std::abort();
    if (end == control::ResponseEnd::Closed && header + body != stream) std::abort();  // nothing lost or added
    if (end == control::ResponseEnd::TimedOut) std::abort();                            // a buffer never waits

    std::map<std::string, std::string> values;
    if (control::CMasterHttp::ParseLookupBody(body, values) && values.size() != 3) std::abort();
    return 0;
}
