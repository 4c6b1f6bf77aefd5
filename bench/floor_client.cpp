// bench-floor: the least a client can do for what one probe run does, as the
// benchmark's floor. With libcurl on one connection: the login, the five GETs
// and the logout; then the probe's sender requests, as many and as big
// (values and payload bytes, the plan bench-trapper saw), each on its own TCP
// connection, the way a Zabbix server takes them. Its payloads are written by
// plain string appends, with no JSON library: nothing is escaped or parsed.
//   bench-floor HOST:PORT TRAPPER_PORT PLAN      PLAN: "values:bytes,..." or "-" for none
#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "kit/sender_frame.h"

namespace {

const char* const kPaths[] = {
    "/redfish/v1/Systems/system/Storage/1",           "/redfish/v1/Chassis/chassis/Power",
    "/redfish/v1/Chassis/chassis/Thermal",            "/redfish/v1/Chassis/chassis/Sensors/total_power",
    "/redfish/v1/Chassis/chassis/Sensors/PEAK_POWER",
};

std::size_t keep(char* data, std::size_t size, std::size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

std::string header_value(const std::string& headers, const std::string& name) {
    const auto at = headers.find(name + ": ");
    if (at == std::string::npos) return {};
    const auto start = at + name.size() + 2;
    return headers.substr(start, headers.find('\r', start) - start);
}

long request(CURL* curl, const std::string& url, const char* method, curl_slist* headers, const char* body,
             std::string& received_headers) {
    std::string received_body;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body);
    if (body == nullptr) curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &received_body);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &received_headers);
    if (curl_easy_perform(curl) != CURLE_OK) std::exit(1);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    return status;
}

void redfish_requests(const std::string& base) {
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, keep);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, keep);
    curl_slist* json = curl_slist_append(nullptr, "Content-Type: application/json");
    std::string headers;
    if (request(curl, base + "/redfish/v1/SessionService/Sessions", "POST", json,
                R"({"UserName": "bench", "Password": "bench"})", headers) != 201)
        std::exit(1);
    curl_slist* token = curl_slist_append(nullptr, ("X-Auth-Token: " + header_value(headers, "X-Auth-Token")).c_str());
    const std::string session = header_value(headers, "Location");
    for (const char* path : kPaths)
        if (request(curl, base + path, "GET", token, nullptr, headers) != 200) std::exit(1);
    request(curl, base + session, "DELETE", token, nullptr, headers);
    curl_slist_free_all(json);
    curl_slist_free_all(token);
    curl_easy_cleanup(curl);
}

void send_frame(const sockaddr_in& trapper, const std::string& bytes) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&trapper), sizeof trapper) != 0 ||
        write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        std::exit(1);
    char reply[512];
    while (read(fd, reply, sizeof reply) > 0) {
    }
    close(fd);
}

// A request of that many values, its payload padded to that many bytes.
std::string request_frame(long values, long bytes) {
    const std::string item = R"({"host":"bench-host","key":"readingVolts[P12V]","value":"12.1","clock":1,"ns":1})";
    std::string payload = R"({"request":"sender data","data":[)";
    for (long i = 0; i < values; ++i) payload += (i == 0 ? "" : ",") + item;
    payload += R"(],"clock":1,"ns":1)";
    if (static_cast<long>(payload.size()) + 1 < bytes) payload.append(static_cast<std::size_t>(bytes) - payload.size() - 1, ' ');
    return kit::frame(payload + "}");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fputs("usage: bench-floor HOST:PORT TRAPPER_PORT PLAN\n", stderr);
        return 2;
    }
    redfish_requests(std::string("https://") + argv[1]);
    sockaddr_in trapper{};
    trapper.sin_family = AF_INET;
    trapper.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    trapper.sin_port = htons(static_cast<std::uint16_t>(std::atoi(argv[2])));
    for (const char* at = argv[3]; *at != '\0' && *at != '-';) {
        char* end = nullptr;
        const long values = std::strtol(at, &end, 10);
        const long bytes = std::strtol(end + 1, &end, 10);
        send_frame(trapper, request_frame(values, bytes));
        at = *end == ',' ? end + 1 : end;
    }
    return 0;
}
