#include "support/value_text.h"

#include <cstdint>

#include "support/json_text.h"
#include "support/real_text.h"

namespace support {

std::string value_text(const Json& value) {
    switch (value.type()) {
        case Json::value_t::string: return value.get<std::string>();
        case Json::value_t::number_integer: return std::to_string(value.get<std::int64_t>());
        case Json::value_t::number_unsigned: return std::to_string(value.get<std::uint64_t>());
        case Json::value_t::number_float: return real_text(value.get<double>(), NonFinite::Console);
        case Json::value_t::boolean: return value.get<bool>() ? "True" : "False";
        case Json::value_t::null: return "None";
        default: return json_text(value);
    }
}

}  // namespace support
