#include "support/shown_text.h"

#include <gtest/gtest.h>

namespace {

TEST(ShownText, OutsideTextStaysOnOneLineWithoutControlBytesAndBounded) {
    const std::pair<std::string, std::string> cases[] = {
        {"Fonte de 12 V – OK", "Fonte de 12 V – OK"},
        {"bad\nOK", "bad\\nOK"},
        {"a\r\tb\\c", "a\\r\\tb\\\\c"},
        {std::string("\x1b[2J\0z\x7f", 7), "\\x1b[2J\\x00z\\x7f"},
        {"\xc2\x9b" "31m", "\\x9b31m"},
        {"\xff ok", "\xef\xbf\xbd ok"},
    };
    for (const auto& [outside, shown] : cases) EXPECT_EQ(support::shown_text(outside), shown) << outside;
    EXPECT_EQ(support::shown_text(std::string(1000, 'x'), 10), std::string(10, 'x') + "... (1000 bytes in all)");
}

}  // namespace
