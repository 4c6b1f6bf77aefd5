#include "support/json_parse.h"

#include <algorithm>
#include <memory>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "support/failure.h"

namespace support {
namespace {

using Member = std::pair<std::string, Json>;

// What the heap adds to each allocation, near enough for a budget.
constexpr std::size_t kAllocationOverhead = 16;
// nlohmann's destructor moves every child into a heap stack: one more value each.
constexpr std::size_t kValueCost = 2 * sizeof(Json);
// A node of the name index and its share of the buckets.
constexpr std::size_t kIndexedNameCost = 48;
// Values between two questions to the guard.
constexpr unsigned kValuesPerGuardCheck = 4096;

// The members of an open object, found by name through indexes into them.
struct NameHash {
    const std::vector<Member>* members;
    std::size_t operator()(std::size_t at) const { return std::hash<std::string>{}((*members)[at].first); }
};
struct NameEqual {
    const std::vector<Member>* members;
    bool operator()(std::size_t a, std::size_t b) const { return (*members)[a].first == (*members)[b].first; }
};

// An array or object not yet closed. Heap-held, so that the index may point
// at its members.
struct Frame {
    bool is_object = false;
    Json array = Json::array();
    std::vector<Member> members;
    std::unordered_set<std::size_t, NameHash, NameEqual> names{0, NameHash{&members}, NameEqual{&members}};
    std::size_t pending = 0;  // the member whose value comes next
};

constexpr std::size_t kFrameCost = sizeof(Frame) + kAllocationOverhead;

std::size_t string_cost(const std::string& text) {
    return sizeof(std::string) + kAllocationOverhead + (text.capacity() > 15 ? text.capacity() + 1 : 0);
}

// Empties value leaves first without allocating: its destructor would move
// the children into a heap stack that exhausted memory may refuse, inside a
// destructor, where that ends the process. path has room for the depth.
void dismantle(Json& value, std::vector<Json*>& path) {
    const auto open = [](const Json& json) { return json.is_structured() && !json.empty(); };
    path.clear();
    if (open(value)) path.push_back(&value);
    while (!path.empty()) {
        Json& top = *path.back();
        if (!open(top)) {
            path.pop_back();
            continue;
        }
        Json& last =
            top.is_array() ? top.get_ref<Json::array_t&>().back() : top.get_ref<Json::object_t&>().back().second;
        if (open(last)) {
            path.push_back(&last);
        } else if (top.is_array()) {
            top.get_ref<Json::array_t&>().pop_back();
        } else {
            top.get_ref<Json::object_t&>().pop_back();
        }
    }
}

// nlohmann's SAX events, built into a Json.
class Builder {
public:
    explicit Builder(const JsonLimits& limits) : limits_(limits) {
        frames_.reserve(static_cast<std::size_t>(std::max(limits.max_nesting, 0)));
        path_.reserve(frames_.capacity() + 2);
    }
    Builder(const Builder&) = delete;
    Builder& operator=(const Builder&) = delete;
    ~Builder() {
        if (done_) return;
        while (!frames_.empty()) {
            dismantle(frames_.back()->array, path_);
            for (auto& member : frames_.back()->members) dismantle(member.second, path_);
            frames_.pop_back();
        }
        dismantle(root_, path_);
        if (limits_.budget != nullptr) limits_.budget->kept -= charged_;
    }

    Json take() {
        done_ = true;
        return std::move(root_);
    }

    bool null() { return value(Json(nullptr), 0); }
    bool boolean(bool v) { return value(Json(v), 0); }
    bool number_integer(Json::number_integer_t v) { return value(Json(v), 0); }
    bool number_unsigned(Json::number_unsigned_t v) { return value(Json(v), 0); }
    bool number_float(Json::number_float_t v, const std::string&) { return value(Json(v), 0); }
    bool string(std::string& v) {
        const std::size_t cost = string_cost(v);
        return value(Json(std::move(v)), cost);
    }
    bool binary(Json::binary_t&) { return value(Json(nullptr), 0); }  // never in JSON text

    bool start_object(std::size_t) { return open(true); }
    bool start_array(std::size_t) { return open(false); }

    bool key(std::string& name) {
        tick();
        Frame& frame = *frames_.back();
        charge(string_cost(name) + kIndexedNameCost);
        grow_for_one(frame.members);
        frame.members.emplace_back(std::move(name), Json());
        const auto [at, added] = frame.names.insert(frame.members.size() - 1);
        if (!added) frame.members.pop_back();
        frame.pending = *at;
        return true;
    }

    bool end_object() {
        Frame& frame = *frames_.back();
        Json object(Json::value_t::object);
        auto& map = object.get_ref<Json::object_t&>();
        charge(frame.members.size() * sizeof(Json::object_t::value_type) + kAllocationOverhead);
        map.reserve(frame.members.size());
        for (auto& [name, member] : frame.members) map.emplace_back(std::move(name), std::move(member));
        refund(frame.members.capacity() * sizeof(Member) + frame.names.size() * kIndexedNameCost + kFrameCost);
        frames_.pop_back();
        return value(std::move(object), 0);
    }

    bool end_array() {
        Json array = std::move(frames_.back()->array);
        refund(kFrameCost);
        frames_.pop_back();
        return value(std::move(array), 0);
    }

    template <class Exception>
    bool parse_error(std::size_t, const std::string&, const Exception& error) {
        throw error;
    }

private:
    void tick() {
        if (++values_ % kValuesPerGuardCheck == 0 && limits_.guard != nullptr) (void)time_left(*limits_.guard);
    }

    void charge(std::size_t bytes) {
        MemoryBudget* budget = limits_.budget;
        if (budget == nullptr) return;
        if (!fits(*budget, bytes)) throw Failure(FailureKind::MemoryBudget, over_budget(*budget));
        budget->kept += bytes;
        charged_ += bytes;
    }

    void refund(std::size_t bytes) {
        if (limits_.budget == nullptr) return;
        bytes = std::min(bytes, charged_);
        limits_.budget->kept -= bytes;
        charged_ -= bytes;
    }

    // Grown by doubling as the vector would, charged for the old and the new
    // block while both are held.
    template <class Vector>
    void grow_for_one(Vector& vector) {
        if (vector.size() < vector.capacity()) return;
        const std::size_t before = vector.capacity(), after = std::max<std::size_t>(4, before * 2);
        const std::size_t item = sizeof(typename Vector::value_type);
        charge(after * item + kAllocationOverhead);
        vector.reserve(after);
        if (before > 0) refund(before * item + kAllocationOverhead);
    }

    bool open(bool is_object) {
        tick();
        if (frames_.size() >= static_cast<std::size_t>(std::max(limits_.max_nesting, 0)))
            throw Failure(FailureKind::InvalidJson,
                          "the answer nests deeper than " + std::to_string(limits_.max_nesting) + " levels");
        charge(kFrameCost);
        frames_.push_back(std::make_unique<Frame>());
        frames_.back()->is_object = is_object;
        return true;
    }

    // A finished value into the open array or object, or as the document.
    bool value(Json json, std::size_t heap_cost) {
        tick();
        charge(kValueCost + heap_cost + (json.is_structured() ? kAllocationOverhead + 24 : 0));
        if (frames_.empty()) {
            root_ = std::move(json);
            return true;
        }
        Frame& frame = *frames_.back();
        if (frame.is_object) {
            frame.members[frame.pending].second = std::move(json);
            return true;
        }
        auto& array = frame.array.get_ref<Json::array_t&>();
        grow_for_one(array);
        array.push_back(std::move(json));
        return true;
    }

    JsonLimits limits_;
    std::vector<std::unique_ptr<Frame>> frames_;
    std::vector<Json*> path_;
    Json root_;
    std::size_t charged_ = 0;
    unsigned values_ = 0;
    bool done_ = false;
};

}  // namespace

Json parse_json(std::string_view text, const JsonLimits& limits) {
    Builder builder(limits);
    Json::sax_parse(text.begin(), text.end(), &builder);
    return builder.take();
}

}  // namespace support
