#pragma once
// The five Redfish resources the probe reads, one family that differs only in
// the path and the line printed when the read is refused.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "redfish/access.h"
#include "support/json.h"
#include "support/memory_budget.h"
#include "support/run_guard.h"

namespace redfish {

// The documents of one run, each absent when its read was refused.
struct Documents {
    std::optional<support::Json> getStorage;
    std::optional<support::Json> getChassiPower;
    std::optional<support::Json> getChassiThermal;
    std::optional<support::Json> getChassiTotalPower;
    std::optional<support::Json> getChassiPeakPower;
};

using HeldDocument = std::optional<support::Json> Documents::*;

// The one table of the five documents: where each is held, the name error
// reports give it, its fixed path and the line printed when its read is
// refused.
struct ResourceReader {
    HeldDocument held_as;
    std::string_view name;
    std::string_view path;
    std::string_view failure_line;
};

// In the order the collection cycle reads them.
inline constexpr ResourceReader kResourceReaders[] = {
    {&Documents::getStorage, "Storage", "/redfish/v1/Systems/system/Storage/1",
     "Falha ao obter informações de armazenamento."},
    {&Documents::getChassiPower, "Power", "/redfish/v1/Chassis/chassis/Power",
     "Falha ao obter informações de energia do chassi."},
    {&Documents::getChassiThermal, "Thermal", "/redfish/v1/Chassis/chassis/Thermal",
     "Falha ao obter informações térmicas do chassi."},
    {&Documents::getChassiTotalPower, "TotalPower", "/redfish/v1/Chassis/chassis/Sensors/total_power",
     "Falha ao obter informações de energia total do chassi."},
    {&Documents::getChassiPeakPower, "PeakPower", "/redfish/v1/Chassis/chassis/Sensors/PEAK_POWER",
     "Falha ao obter informações de pico de energia do chassi."},
};

// The row of the table for a document.
const ResourceReader& resource_reader(HeldDocument document);

// JSON deeper than this ends the run instead of exhausting the stack.
inline constexpr int kMaxNesting = 256;

// One GET with the token: the status, and the parsed document when answered
// 200 (a 200 body that is not JSON ends the run). Prints nothing.
struct Fetched {
    long status = 0;
    std::optional<support::Json> document;
};
Fetched fetch_document(Bmc& bmc, std::string_view path, const std::string& token);

// The same for several paths at once (https::get_all), in their order.
std::vector<Fetched> fetch_documents(Bmc& bmc, const std::vector<std::string>& paths, const std::string& token);

// The same GET without a token, for what a Redfish service shows anyone (its
// service root).
Fetched fetch_public_document(Bmc& bmc, std::string_view path);

// GETs the reader's resource with the token: the status, and the parsed
// document when answered 200; otherwise the failure line is printed. A 200
// body that is not JSON ends the run.
Fetched read_resource(Bmc& bmc, const ResourceReader& reader, const std::string& token);

std::optional<support::Json> get_storage(Bmc& bmc, const std::string& token);
std::optional<support::Json> get_chassisPower(Bmc& bmc, const std::string& token);
std::optional<support::Json> get_chassisThermal(Bmc& bmc, const std::string& token);
std::optional<support::Json> get_chassisTotalPower(Bmc& bmc, const std::string& token);
std::optional<support::Json> get_chassisPeakPower(Bmc& bmc, const std::string& token);

// Parses a body as a document; where names the request for the error report.
// When given, the run's budget is charged with the document (a MemoryBudget
// failure beyond it) and its guard is asked while the parse runs.
support::Json parse_document(const std::string& body, const std::string& where, support::MemoryBudget* budget = nullptr,
                             support::RunGuard* guard = nullptr);

}  // namespace redfish
