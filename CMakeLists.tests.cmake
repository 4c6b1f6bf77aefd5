# Tests, the test kit (test BMC, test trapper, running the real binary) and
# the simulated BMC. Included from CMakeLists.txt when BMC_PROBE_TESTS is on.
find_package(GTest REQUIRED)
include(GoogleTest)
pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
pkg_check_modules(YAMLCPP REQUIRED IMPORTED_TARGET yaml-cpp)

# The probe with a short run-time bound, for the end-to-end timeout tests.
add_executable(bmc-probe-short-limit src/run/main.cpp)
target_compile_definitions(bmc-probe-short-limit PRIVATE BMC_PROBE_RUNTIME_LIMIT=2)
target_link_libraries(bmc-probe-short-limit PRIVATE probe_run)

file(GLOB sim_sources CONFIGURE_DEPENDS tools/bmc-sim/*.cpp)
list(FILTER sim_sources EXCLUDE REGEX ".*/main\\.cpp$")
if(sim_sources)
  add_library(bmc_sim_lib STATIC ${sim_sources})
  target_include_directories(bmc_sim_lib PUBLIC ${CMAKE_SOURCE_DIR}/tools ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(bmc_sim_lib PUBLIC PkgConfig::HTTPLIB OpenSSL::SSL OpenSSL::Crypto nlohmann_json::nlohmann_json)
  if(EXISTS ${CMAKE_SOURCE_DIR}/tools/bmc-sim/main.cpp)
    add_executable(bmc-sim tools/bmc-sim/main.cpp)
    target_link_libraries(bmc-sim PRIVATE bmc_sim_lib)
  endif()
endif()

file(GLOB kit_sources CONFIGURE_DEPENDS tests/kit/*.cpp)
add_library(test_kit STATIC ${kit_sources})
target_include_directories(test_kit PUBLIC ${CMAKE_SOURCE_DIR}/tests ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(test_kit PUBLIC GTest::gtest nlohmann_json::nlohmann_json OpenSSL::SSL OpenSSL::Crypto PkgConfig::YAMLCPP)
if(TARGET bmc_sim_lib)
  target_link_libraries(test_kit PUBLIC bmc_sim_lib)
endif()
target_compile_definitions(test_kit PUBLIC
  BMC_PROBE_BINARY="$<TARGET_FILE:bmc-probe>"
  BMC_PROBE_SHORT_LIMIT_BINARY="$<TARGET_FILE:bmc-probe-short-limit>"
  BMC_PROBE_SOURCE_DIR="${CMAKE_SOURCE_DIR}")

# One test program per source folder, so each can be built and run alone.
function(bmc_probe_tests name dir)
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS tests/${dir}/*_test.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE probe_run test_kit GTest::gtest_main)
  add_dependencies(${name} bmc-probe bmc-probe-short-limit)
  if(TARGET bmc-sim)
    add_dependencies(${name} bmc-sim)
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
endfunction()

bmc_probe_tests(support_tests support)
bmc_probe_tests(redfish_tests redfish)
bmc_probe_tests(zabbix_tests zabbix)
bmc_probe_tests(health_tests health)
bmc_probe_tests(run_tests run)

# zabbix/bmc-probe-7.0.yaml is made from zabbix/bmc-probe.yaml; a change to
# the one without the other fails here.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME ZabbixTemplate70.IsWhatToolsMakesOfThe60Template
         COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tools/zabbix-template-7.0 --check)
