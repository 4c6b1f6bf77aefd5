#pragma once
// The captured documents of a healthy OpenBMC machine, as test input.
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "redfish/readers.h"
#include "support/json.h"

namespace health_test {

inline std::string testdata_bytes(const std::string& relative) {
    const std::string path = std::string(BMC_PROBE_SOURCE_DIR) + "/tests/testdata/" + relative;
    std::ifstream file(path, std::ios::binary);
    if (!file) throw std::runtime_error("cannot open " + path);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

inline support::Json healthy(const std::string& name) {
    return support::Json::parse(testdata_bytes("a_healthy/" + name + ".json"));
}

inline redfish::Documents healthy_documents() {
    return {healthy("storage"), healthy("power"), healthy("thermal"), healthy("total_power"), healthy("peak_power")};
}

}  // namespace health_test
