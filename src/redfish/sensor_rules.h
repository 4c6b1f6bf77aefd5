#pragma once
// The generic mode's rules for the voltage, fan and temperature rows of a
// whole service: from each chassis's Power and Thermal where it has them,
// else from its sensors and fan resources; a sensor reached twice gives one
// row, fans in percent are kept apart, and names are unique within a list.
#include <string>
#include <string_view>
#include <vector>

#include "redfish/service.h"
#include "redfish/service_reading.h"
#include "support/json.h"

namespace redfish {

struct SensorLists {
    std::vector<SensorReading> voltages, fans, temperatures;
};

SensorLists sensor_lists(const ServiceView& service, const DocumentStore& store);

// The name a row goes by: Name, else the old FanName, else the resource's
// own id, else the last segment of where it was found.
std::string row_name(const support::Json& source, std::string_view where);

// What tells two rows of the same name apart: the resource's Id or
// MemberId, else the last segment of its @odata.id or of where it was found.
std::string row_id(const support::Json& source, std::string_view where);

// Rows that share a name take their id after it, "Name (id)"; a name that
// occurs once stays as it is. Where names still repeat, the later rows take
// " (2)", " (3)", ... after that, each a name no other row of the list has.
void make_names_unique(std::vector<std::string>& names, const std::vector<std::string>& ids);

}  // namespace redfish
