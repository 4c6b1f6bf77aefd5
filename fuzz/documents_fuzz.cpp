// The five documents through parsing, the reduction, the console report and
// the discovery documents. The input holds up to five bodies separated by
// NUL bytes (never valid inside JSON text), in the readers' order; an empty
// body stands for a refused read, and bodies not given are the healthy
// machine's.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "render.h"
#include "health/reduction.h"
#include "redfish/readers.h"
#include "support/failure.h"

namespace {

const char* const kHealthyFiles[] = {"storage", "power", "thermal", "total_power", "peak_power"};

std::string healthy_body(const std::string& name) {
    std::ifstream file(std::string(BMC_PROBE_SOURCE_DIR) + "/tests/testdata/a_healthy/" + name + ".json",
                       std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::vector<std::string> bodies_of(const std::string& input) {
    std::vector<std::string> bodies;
    std::size_t start = 0;
    while (bodies.size() < 5) {
        const auto end = input.find('\0', start);
        bodies.push_back(input.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    for (std::size_t i = bodies.size(); i < 5; ++i) bodies.push_back(healthy_body(kHealthyFiles[i]));
    return bodies;
}


}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string> bodies = bodies_of(std::string(reinterpret_cast<const char*>(data), size));
    // Only the failures the probe reports are expected; anything else that
    // escapes is a finding.
    try {
        redfish::Documents documents;
        for (std::size_t i = 0; i < 5; ++i) {
            if (bodies[i].empty()) continue;
            documents.*(redfish::kResourceReaders[i].held_as) =
                redfish::parse_document(bodies[i], std::string(redfish::kResourceReaders[i].path));
        }
        fuzz::render(health::build_snapshot(documents));
    } catch (const support::Failure&) {
    }
    return 0;
}
