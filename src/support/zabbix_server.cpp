#include "support/zabbix_server.h"

namespace support {

ZabbixServer obtain_zabbix_server(const std::string&) { return ZabbixServer{{{"127.0.0.1", 10051}}, std::nullopt}; }

}  // namespace support
