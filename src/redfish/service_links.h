#pragma once
// How the generic mode follows a Redfish service: the links of a document,
// the members of a collection, and the form of $expand the root announces.
#include <optional>
#include <string>
#include <vector>

#include "support/json.h"

namespace redfish {

// "?$expand=.($levels=1)" (or a form the root does announce) when the
// service root announces expansion of collections, else empty.
std::string expand_query(const support::Json* root);

// The path of the @odata.id of document's member name, when it is a path on
// the BMC (odata_path).
std::optional<std::string> link(const support::Json* document, const std::string& name);

// The member paths listed in a collection's Members, in order.
std::vector<std::string> member_paths(const support::Json* collection);

// The path a DataSourceUri names (a reading's sensor), or empty.
std::string data_source(const support::Json* excerpt);

}  // namespace redfish
