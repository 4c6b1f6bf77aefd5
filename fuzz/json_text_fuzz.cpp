// The discovery-document writer and the real-number text read back to what
// they were given, and the run's parser reads what the library's parser
// reads. The input is read three ways: as JSON text, as a string of raw
// bytes, and as doubles (8 bytes each).
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/failure.h"
#include "support/json.h"
#include "support/json_parse.h"
#include "support/json_text.h"
#include "support/real_text.h"
#include "support/utf8.h"

namespace {

void fail(const char* what) {
    std::fprintf(stderr, "round trip broken: %s\n", what);
    std::abort();
}

// Same kinds and same values; reals bit for bit, so -0.0 is not 0.0.
bool same(const support::Json& a, const support::Json& b) {
    if (a.type() != b.type()) return false;
    if (a.is_number_float()) {
        const double x = a.get<double>(), y = b.get<double>();
        return std::memcmp(&x, &y, sizeof x) == 0;
    }
    if (a.is_array() || a.is_object()) {
        if (a.size() != b.size()) return false;
        if (a.is_object() && a.dump() != b.dump()) return false;  // member names and order
        auto x = a.begin(), y = b.begin();
        for (; x != a.end(); ++x, ++y)
            if (!same(*x, *y)) return false;
        return true;
    }
    return a == b;
}

bool ascii_only(const std::string& text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80 || static_cast<unsigned char>(c) < 0x20) return false;
    return true;
}

support::Json read_back(const std::string& text) {
    support::Json back = support::Json::parse(text, nullptr, false);
    if (back.is_discarded()) fail(text.c_str());
    return back;
}

// The same document or the same refusal; under a small budget, a refusal
// gives back all it charged.
void check_parser(const std::string& input, const support::Json& expected) {
    try {
        if (support::parse_json(input, {100000, nullptr, nullptr}).dump() != expected.dump()) fail("parse_json");
    } catch (const support::Json::exception&) {
        if (!expected.is_discarded()) fail("parse_json refuses what Json::parse reads");
    }
    support::MemoryBudget budget{4096};
    try {
        (void)support::parse_json(input, {100000, &budget, nullptr});
    } catch (const support::Failure&) {
        if (budget.kept != 0) fail("a refused parse keeps a charge");
    } catch (const support::Json::exception&) {
        if (budget.kept != 0) fail("a refused parse keeps a charge");
    }
}

void check_document(const std::string& input) {
    const support::Json value = support::Json::parse(input, nullptr, false);
    check_parser(input, value);
    if (value.is_discarded()) return;
    const std::string text = support::json_text(value);
    if (!ascii_only(text)) fail("document text is not printable ASCII");
    if (!same(read_back(text), value)) fail("document");
}

void check_string(const std::string& input) {
    const std::string text = support::json_text(support::Json(input));
    if (!ascii_only(text)) fail("string text is not printable ASCII");
    if (read_back(text) != support::Json(support::valid_utf8(input))) fail("string");
}

void check_real(double value) {
    const std::string console = support::real_text(value);
    const std::string in_json = support::json_text(support::Json(value));
    if (std::isnan(value)) {
        if (console != "nan" || in_json != "NaN") fail("not-a-number");
        return;
    }
    if (std::isinf(value)) {
        if (console != (value > 0 ? "inf" : "-inf") || in_json != (value > 0 ? "Infinity" : "-Infinity"))
            fail("infinity");
        return;
    }
    if (console != in_json) fail("the two styles differ for a finite real");
    const double back = std::strtod(console.c_str(), nullptr);
    if (std::memcmp(&back, &value, sizeof back) != 0) fail(console.c_str());
    if (!same(read_back(in_json), support::Json(value))) fail(in_json.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    check_document(input);
    check_string(input);
    for (std::size_t at = 0; at + sizeof(double) <= size; at += sizeof(double)) {
        double value;
        std::memcpy(&value, data + at, sizeof value);
        check_real(value);
    }
    return 0;
}
