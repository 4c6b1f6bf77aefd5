// The whole server as the generic mode delivers it from each real capture:
// the system's words and inventory, one row per present component (an empty
// slot is none), the BMC's own word under each row's key, "N/A" where
// nothing is published.
#include <gtest/gtest.h>

#include <map>
#include <utility>
#include <string>
#include <vector>

#include "kit/capture_facts.h"
#include "kit/run_binary.h"
#include "kit/test_bmc.h"
#include "kit/test_trapper.h"
#include "support/json.h"

namespace {

using support::Json;
using Values = std::map<std::string, std::string>;  // key to the value Zabbix received

struct WholeServer {
    std::string capture;
    Values sent;                          // system items and rows, as the capture publishes them
    std::map<std::string, std::size_t> rows;  // rows per discovery list
    std::vector<std::string> not_sent;    // the keys of empty slots
};

const std::string kDmtfCondition = "Warning: Sensor 'CPU1 Temp' reading of 44 (Cel) is above the 42 upper caution threshold.";

const WholeServer kWholeServers[] = {
    {"dmtf-public-rackmount1",
     {{"systemHealth", "OK"}, {"systemHealthRollup", "Warning"}, {"systemState", "Enabled"},
      {"systemConditions", kDmtfCondition}, {"systemManufacturer", "Contoso"}, {"systemModel", "3500"},
      {"systemSerialNumber", "437XR1138R2"}, {"bmcFirmwareVersion", "1.45.455b66-rev4"},
      {"psuHealth[Power Supply Bay 1]", "Warning"}, {"psuState[Power Supply Bay 1]", "Enabled"},
      {"driveHealth[SATA Bay 2]", "Warning"}, {"driveFailurePredicted[SATA Bay 2]", "N/A"},
      {"cpuHealth[Processor (CPU1)]", "OK"}, {"cpuHealth[FPGA]", "OK"}},
     {{"discovery_PowerSupplies", 1}, {"discovery_Memory", 3}, {"discovery_Processors", 2}, {"discovery_Drives", 2}},
     {"psuHealth[Power Supply Bay 2]", "memoryHealth[DIMM Slot 4]", "cpuHealth[Processor (CPU2)]",
      "driveHealth[SATA Bay 3]"}},
    {"hpe-ilo5-dl385-gen10plus-v2",
     {{"systemHealth", "Critical"}, {"systemHealthRollup", "Critical"}, {"systemConditions", "N/A"},
      {"systemModel", "ProLiant DL385 Gen10 Plus v2"}, {"systemSerialNumber", "MXQ302099S"},
      {"systemPartNumber", "N/A"}, {"systemSku", "P38411-B21"}, {"bmcFirmwareVersion", "iLO 5 v2.72"},
      {"driveHealth[Secondary Storage Device (DA00001C)]", "Critical"},
      {"driveFailurePredicted[Secondary Storage Device (DA00001C)]", "true"},
      {"driveFailurePredicted[Secondary Storage Device (DA00001D)]", "false"},
      {"psuHealth[HpeServerPowerSupply (0)]", "OK"}},
     {{"discovery_PowerSupplies", 2}, {"discovery_Memory", 16}, {"discovery_Processors", 2}, {"discovery_Drives", 18}},
     {"memoryHealth[proc1dimm2]", "memoryState[proc2dimm15]"}},
    {"lenovo-xcc-sr670-v2",
     {{"systemHealth", "OK"}, {"systemSerialNumber", "J105958B"}, {"biosVersion", "U8E122J"},
      {"bmcFirmwareVersion", "TGBT42S 2.83 2023-07-05"}, {"cpuHealth[GPU 1]", "N/A"}, {"cpuState[GPU 8]", "N/A"},
      {"cpuState[Processor 1]", "Enabled"}, {"psuHealth[Power Supply 4]", "OK"}},
     {{"discovery_PowerSupplies", 4}, {"discovery_Memory", 16}, {"discovery_Processors", 10}, {"discovery_Drives", 4}},
     {"memoryHealth[DIMM 2]", "memoryState[DIMM 31]"}},
    {"nvidia-gb200-openbmc",
     {{"systemHealth", "OK"}, {"systemHealthRollup", "N/A"}, {"systemConditions", ""}, {"systemManufacturer", "N/A"},
      {"bmcFirmwareVersion", "GB200Nvl-24.12-8"}, {"driveHealth[200]", "N/A"}, {"driveState[200]", "Enabled"}},
     {{"discovery_PowerSupplies", 0}, {"discovery_Memory", 8}, {"discovery_Processors", 8}, {"discovery_Drives", 9}},
     {}},
    {"dell-idrac9-poweredge-r750",
     {{"systemHealth", "OK"}, {"systemSerialNumber", "CNIVC0014M0388"}, {"systemSku", "F54P1G3"},
      {"bmcFirmwareVersion", "6.00.30.00"}, {"psuState[PS1 Status]", "Enabled"},
      {"driveFailurePredicted[PCIe SSD in Slot 0 in Bay 1]", "false"}},
     {{"discovery_PowerSupplies", 2}, {"discovery_Memory", 16}, {"discovery_Processors", 3}, {"discovery_Drives", 3}},
     {}},
};

Values delivered_from(bmc_sim::Scenario scenario) {
    bmc_sim::Options served;
    served.scenario = std::move(scenario);
    auto bmc = kit::start_bmc(std::move(served));
    kit::TestTrapper trapper;
    kit::RunOptions options;
    options.env["BMC_PROBE_ZABBIX_SERVER"] = "127.0.0.1:" + std::to_string(trapper.port());
    const auto run = kit::run_program({"discoveryRedfish", "bmc", bmc->url_base(), "monitor", "0penBmc!", "h"}, options);
    EXPECT_EQ(run.status, 0) << run.err;
    Values values;
    for (const auto& call : trapper.calls()) values[call.key] = call.value;
    return values;
}

class WholeServerOf : public testing::TestWithParam<WholeServer> {};

TEST_P(WholeServerOf, DeliversEveryComponentAsTheBmcPublishesItAndNoEmptySlot) {
    const WholeServer& server = GetParam();
    const Values values = delivered_from(kit::capture_scenario(server.capture));
    for (const auto& [key, value] : server.sent) {
        ASSERT_TRUE(values.count(key)) << key;
        EXPECT_EQ(values.at(key), value) << key;
    }
    for (const auto& [key, rows] : server.rows) {
        const Json data = Json::parse(values.at(key))["data"];
        EXPECT_EQ(data.size(), rows) << key;
        for (const auto& row : data)  // only what names a row, so that the document changes only with the rows
            for (const auto& [macro, value] : row.items())
                EXPECT_TRUE(macro.ends_with("_NAME}") || macro == "{#CPU_TYPE}") << key << ": " << macro;
    }
    for (const auto& key : server.not_sent) EXPECT_EQ(values.count(key), 0u) << key;
}

// A drive that two links name (here the same link twice) is one row.
TEST(WholeServer, AComponentReachedTwiceIsOneRow) {
    auto scenario = kit::capture_scenario("dell-idrac9-poweredge-r750");
    auto& storage = scenario.tree.at("/redfish/v1/Systems/System.Embedded.1/Storage/CPU.1").body;
    Json document = Json::parse(storage);
    document["Drives"].push_back(document["Drives"][0]);
    storage = document.dump();
    const Values values = delivered_from(std::move(scenario));
    EXPECT_EQ(Json::parse(values.at("discovery_Drives"))["data"].size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(Captures, WholeServerOf, testing::ValuesIn(kWholeServers),
                         [](const auto& info) {
                             kit::CaptureFacts facts;
                             facts.name = info.param.capture;
                             return kit::test_name_of(facts);
                         });

}  // namespace
