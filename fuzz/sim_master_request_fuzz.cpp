// Request heads arriving at the simulated master control server.
#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/master_http_server.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string head(reinterpret_cast<const char*>(data), size);
    sim::MasterRequest request = sim::ClassifyMasterRequest(head, "/master", "/upload/");
    if (request.kind == sim::MasterRequest::Kind::kLookup && request.userName.size() > size) __builtin_trap();
    sim::PercentDecode(head);
    return 0;
}
