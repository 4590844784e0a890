// The form-variable reader behind the dispatcher's stream index and "/sys/password".

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "FormBody.h"

namespace {

TEST(FormBody, FindsTheFirstMatchingNameAndDecodesItsValue) {
    struct Case {
        const char* data;
        std::optional<std::string> value;  // of "index"
    };
    const Case cases[] = {
        {"index=1", "1"},
        {"a=2&index=7&index=9", "7"},
        {"INDEX=3", "3"},            // names match in any letter case
        {"xindex=5", std::nullopt},  // a longer name is another variable
        {"index5", std::nullopt},    // no '=': no value
        {"index=", ""},              // present and empty
        {"index=1=2", "1=2"},        // the value runs to the next '&'
        {"&&index=4&", "4"},         // empty pairs are passed over
        {"index=%31%32", "12"},      // escapes
        {"index=a+b", "a b"},        // '+' is a blank in a form
        {"index=%4", "%4"},          // a short escape stays as it is
        {"index=%zz1", "%zz1"},      // so does one without hex digits
        {"index=%00", std::string(1, '\0')},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.data);
        EXPECT_EQ(http::FormBody::value(c.data, "index"), c.value);
    }
}

}  // namespace
