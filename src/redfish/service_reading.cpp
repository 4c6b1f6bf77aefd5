#include "redfish/service_reading.h"

namespace redfish {
namespace {

std::optional<support::Json> word(const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    return support::Json(*text);
}

}  // namespace

std::optional<support::Json> published(const PartReading& part, Member member) {
    switch (member) {
        case Member::Name: return word(part.name);
        case Member::Reading: return part.reading;
        case Member::RangeMax: return part.range_max;
        case Member::RangeMin: return part.range_min;
        case Member::IntervalInMin: return part.interval_in_min;
        case Member::LowerCaution: return part.lower_caution;
        case Member::UpperCaution: return part.upper_caution;
        case Member::LowerCritical: return part.lower_critical;
        case Member::UpperCritical: return part.upper_critical;
        case Member::Health: return word(part.status.health);
        case Member::HealthRollup: return word(part.status.health_rollup);
        case Member::State: return word(part.status.state);
        case Member::Conditions: return word(part.conditions);
        case Member::Manufacturer: return word(part.manufacturer);
        case Member::Model: return word(part.model);
        case Member::SerialNumber: return word(part.serial_number);
        case Member::PartNumber: return word(part.part_number);
        case Member::Sku: return word(part.sku);
        case Member::BiosVersion: return word(part.bios_version);
        case Member::FirmwareVersion: return word(part.firmware_version);
    }
    return std::nullopt;
}

}  // namespace redfish
