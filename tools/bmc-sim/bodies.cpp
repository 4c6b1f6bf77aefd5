#include "bmc-sim/bodies.h"

#include <nlohmann/json.hpp>

namespace bmc_sim::bodies {
namespace {

using SortedJson = nlohmann::json;

std::string bmcweb_text(const SortedJson& document) {
    return document.dump(2, ' ', true, SortedJson::error_handler_t::replace);
}

SortedJson message(const std::string& id, const std::string& text, const SortedJson& args,
                   const std::string& severity, const std::string& resolution) {
    return {{"@odata.type", "#Message.v1_1_1.Message"},
            {"Message", text},
            {"MessageArgs", args},
            {"MessageId", "Base.1.13.0." + id},
            {"MessageSeverity", severity},
            {"Resolution", resolution}};
}

std::string error_document(const SortedJson& info) {
    return bmcweb_text({{"error",
                         {{"@Message.ExtendedInfo", SortedJson::array({info})},
                          {"code", info["MessageId"]},
                          {"message", info["Message"]}}}});
}

}  // namespace

std::string session(const std::string& id, const std::string& user, const std::string& client_address) {
    return bmcweb_text({{"@odata.id", "/redfish/v1/SessionService/Sessions/" + id},
                        {"@odata.type", "#Session.v1_3_0.Session"},
                        {"ClientOriginIPAddress", client_address},
                        {"Description", "Manager User Session"},
                        {"Id", id},
                        {"Name", "User Session"},
                        {"UserName", user}});
}

std::string success() {
    return bmcweb_text({{"@Message.ExtendedInfo",
                         SortedJson::array({message("Success", "The request completed successfully.",
                                                    SortedJson::array(), "OK", "None")})}});
}

std::string resource_not_found(const std::string& type, const std::string& name) {
    return error_document(message("ResourceNotFound",
                                  "The requested resource of type " + type + " named '" + name + "' was not found.",
                                  {type, name}, "Critical",
                                  "Provide a valid resource identifier and resubmit the request."));
}

std::string login_refused() {
    const std::string uri = "/redfish/v1/SessionService/Sessions";
    return error_document(message(
        "ResourceAtUriUnauthorized",
        "While accessing the resource at '" + uri +
            "', the service received an authorization error 'Invalid username or password'.",
        {uri, "Invalid username or password"}, "Critical",
        "Ensure that the appropriate access is provided for the service in order for it to access the URI."));
}

std::string malformed_login() {
    return error_document(message("MalformedJSON",
                                  "The request body submitted was malformed JSON and could not be parsed by the "
                                  "receiving service.",
                                  SortedJson::array(), "Critical",
                                  "Ensure that the request body is valid JSON and resubmit the request."));
}

std::string query_not_supported() {
    return error_document(message("QueryNotSupported", "Querying is not supported by the implementation.",
                                  SortedJson::array(), "Warning",
                                  "Remove the query parameters and resubmit the request if the operation failed."));
}

}  // namespace bmc_sim::bodies
