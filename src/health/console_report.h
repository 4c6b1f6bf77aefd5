#pragma once
// The debug console report: the snapshot in Portuguese, coloured, for a person
// who runs the probe by hand with the Zabbix host name "debug".
#include <string>

#include "health/snapshot.h"

namespace health {

// Every byte the report prints.
std::string debug_report_text(const HealthSnapshot& snapshot);

// Prints the report.
void print_debug_report(const HealthSnapshot& snapshot);

}  // namespace health
