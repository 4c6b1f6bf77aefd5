#pragma once
// The JSON value the whole program carries: member order as received or as
// inserted, integers and reals kept apart.
#include <nlohmann/json.hpp>

namespace support {
using Json = nlohmann::ordered_json;
}
