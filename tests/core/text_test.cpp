// The trimming of the header's fixed-width texts (core/text.h).
#include <gtest/gtest.h>

#include <cstring>

#include "core/text.h"

namespace {

TEST(TrimHeaderText, Table)
{
    struct Case {
        const char* field;  // exactly `width` bytes, may hold NULs
        std::size_t width;
        const char* want;
    };
    const Case cases[] = {
        {"mV      ", 8, "mV"},       {"        ", 8, ""},         {"  pA    ", 8, "  pA"},  // leading blanks stay
        {"m V\0\0\0\0\0", 8, "m V"},                                                        // NULs are passed over
        {"pA \0 \0  ", 8, "pA"},                                   // blanks and NULs mixed at the end
        {"\0\0\0\0\0\0\0\0", 8, ""}, {"abcdefgh", 8, "abcdefgh"},  // full width, no terminator in the field
        {"IN 0      ", 10, "IN 0"},  {"a\0b       ", 10, "a"},     // text after a NUL is not part of the result
    };
    for (const Case& c : cases) {
        char out[300];
        std::memset(out, 'x', sizeof out);
        AbfTrimHeaderText(c.field, c.width, out);
        EXPECT_STREQ(out, c.want) << "field width " << c.width << " want '" << c.want << "'";
        EXPECT_EQ(out[c.width], '\0');
    }
}

}  // namespace
