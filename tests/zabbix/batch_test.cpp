// How gathered values are cut into requests, and the moments they carry.
#include "zabbix/batch.h"

#include <gtest/gtest.h>

namespace {

using zabbix::Refusal;
using Moment = std::pair<std::int64_t, std::int64_t>;

Moment moment(zabbix::Timestamp at) { return {at.sec, at.ns}; }

std::vector<std::size_t> request_sizes(const zabbix::Gathered& gathered) {
    std::vector<std::size_t> sizes;
    for (const auto& request : gathered.requests) sizes.push_back(request.keys.size());
    return sizes;
}

TEST(GatheredRequests, EachKindFillsItsOwnRequestsToTheLimitInCallOrder) {
    zabbix::Gathered gathered;
    for (int i = 0; i < 6; ++i) zabbix::gather(gathered, Refusal::Counts, "fixed" + std::to_string(i), "{}");
    for (int i = 0; i < 600; ++i) {
        if (i % 200 == 0) zabbix::gather(gathered, Refusal::Counts, "doc" + std::to_string(i / 200), "{\"d\":1}");
        zabbix::gather(gathered, Refusal::Expected, "row" + std::to_string(i), "{}");
    }
    for (int i = 6; i < 20; ++i) zabbix::gather(gathered, Refusal::Counts, "fixed" + std::to_string(i), "{}");
    EXPECT_EQ(request_sizes(gathered), (std::vector<std::size_t>{23, 250, 250, 100}));
    const auto& counted = gathered.requests[0];
    EXPECT_EQ(counted.refusal, Refusal::Counts);
    EXPECT_EQ(counted.keys[6], "doc0");
    EXPECT_EQ(counted.keys[8], "doc2");
    EXPECT_EQ(counted.keys.back(), "fixed19");
    EXPECT_EQ(counted.items.substr(0, 15), "{},{},{},{},{},");
    EXPECT_EQ(gathered.requests[1].keys.front(), "row0");
    EXPECT_EQ(gathered.requests[3].keys.back(), "row599");
    for (std::size_t i = 1; i < gathered.requests.size(); ++i)
        EXPECT_EQ(gathered.requests[i].refusal, Refusal::Expected);
}

TEST(GatheredRequests, BigValuesCloseARequestAtOneMebibyte) {
    const std::string big(300 * 1024, 'x');
    const std::string huge(zabbix::kMaxRequestBytes + 1, 'y');
    zabbix::Gathered gathered;
    for (int i = 0; i < 5; ++i) zabbix::gather(gathered, Refusal::Expected, "row", big);
    zabbix::gather(gathered, Refusal::Expected, "alone", huge);
    zabbix::gather(gathered, Refusal::Expected, "after", "{}");
    EXPECT_EQ(request_sizes(gathered), (std::vector<std::size_t>{3, 2, 1, 1}));
    for (const auto& request : gathered.requests) {
        if (request.keys.size() > 1) {
            EXPECT_LE(request.items.size(), zabbix::kMaxRequestBytes);
        }
    }
    EXPECT_EQ(gathered.requests[2].items, huge);
    EXPECT_EQ(gathered.requests[3].keys, std::vector<std::string>{"after"});
}

TEST(GatheredRequests, EveryValueHasAMomentOfItsOwnInCallOrder) {
    zabbix::Gathered gathered;
    EXPECT_EQ(moment(zabbix::next_moment(gathered, {100, 5})), Moment(100, 5));
    EXPECT_EQ(moment(zabbix::next_moment(gathered, {100, 5})), Moment(100, 6));
    EXPECT_EQ(moment(zabbix::next_moment(gathered, {99, 0})), Moment(100, 7));  // the clock was set back
    gathered.last = {100, 999'999'999};
    EXPECT_EQ(moment(zabbix::next_moment(gathered, {100, 0})), Moment(101, 0));
    EXPECT_EQ(moment(zabbix::next_moment(gathered, {200, 1})), Moment(200, 1));
}

}  // namespace
