#include <gtest/gtest.h>

#include "AtAnswers.h"

namespace {

using enc::parseIccid;
using enc::parseImei;
using enc::parseOperator;
using enc::parseSignal;

// Answers as the canonical port delivers them: the echo, then the modem's lines with every
// carriage return turned into a line feed.
std::string modemAnswer(const std::string& echo, const std::string& line) {
    return echo + "\n\n" + line + "\n\nOK";
}

TEST(ImeiAnswer, DigitsOfTheLastLineWithDigits) {
    struct Case {
        std::string answer;
        const char* expected;  // nullptr: no IMEI
    };
    const Case cases[] = {
        {modemAnswer("AT+GSN", "866123456789012"), "866123456789012"},
        {"\n866123456789012\n\nOK", "866123456789012"},
        {modemAnswer("AT+GSN", "12345678901234567890"), "12345678901234567890"},
        {modemAnswer("AT+GSN", "86612345678901"), nullptr},         // 14 digits
        {modemAnswer("AT+GSN", "123456789012345678901"), nullptr},  // 21 digits
        {"\n111\n866123456789012\n\nOK", "866123456789012"},        // a new line restarts
        {"\n866123456789012\n777\nOK", nullptr},                    // the last digits win
        {"AT+GSN\n\nERROR\n", nullptr},
        {"", nullptr},
    };
    for (const auto& c : cases) {
        const auto imei = parseImei(c.answer);
        if (c.expected == nullptr) {
            EXPECT_FALSE(imei.has_value()) << c.answer;
        } else {
            ASSERT_TRUE(imei.has_value()) << c.answer;
            EXPECT_EQ(*imei, c.expected);
        }
    }
}

TEST(IccidAnswer, DigitsFromTheStartUpToTheLineEnd) {
    struct Case {
        std::string answer;
        const char* expected;
    };
    const Case cases[] = {
        {modemAnswer("AT+CCID", "+CCID: 89860012345678901234"), "89860012345678901234"},
        {"\n+CCID: 8986001234567890123\n\nOK", "8986001234567890123"},
        {"+CCID: 8986\n", nullptr},  // 12 bytes, too few digits
        {"\nOK\n", nullptr},         // fewer than 11 bytes
        {modemAnswer("AT+CCID", "+CCID: 89860012345678901234567"), nullptr},  // 25 digits
        {modemAnswer("AT+CCID", "+CME ERROR: 10"), nullptr},
    };
    for (const auto& c : cases) {
        const auto iccid = parseIccid(c.answer);
        if (c.expected == nullptr) {
            EXPECT_FALSE(iccid.has_value()) << c.answer;
        } else {
            ASSERT_TRUE(iccid.has_value()) << c.answer;
            EXPECT_EQ(*iccid, c.expected);
        }
    }
}

TEST(IccidAnswer, LineEndsBeforePosition17DoNotStopTheCollection) {
    // The echo's line ends come early; the ICCID on the next line is still collected.
    EXPECT_EQ(parseIccid("AT\n\n+CCID: 898600123456789\n\nOK").value_or(""), "898600123456789");
}

TEST(SignalAnswer, FirstNumberAfterCsq) {
    EXPECT_EQ(parseSignal(modemAnswer("AT+CSQ", "+CSQ: 18,99")), 18);
    EXPECT_EQ(parseSignal("\n+CSQ: 99,99\n\nOK"), 99);
    EXPECT_EQ(parseSignal("\n+CSQ: 0,0\n\nOK"), 0);
    EXPECT_FALSE(parseSignal("AT+CSQ\n\nERROR\n").has_value());  // the echo has no colon
    EXPECT_FALSE(parseSignal("\n+CSQ: ,99\n").has_value());
    EXPECT_FALSE(parseSignal("").has_value());
}

TEST(OperatorAnswer, EveryTableNameAndTheFailures) {
    EXPECT_EQ(parseOperator(modemAnswer("AT+COPS?", "+COPS: 0,0,\"CHN-UNICOM\",7")).value_or(""),
              "中国联通");
    EXPECT_EQ(parseOperator("\n+COPS: 0,0,\"CHN-CT\",7\n\nOK").value_or(""), "中国电信");
    EXPECT_EQ(parseOperator("\r\n+COPS: 0,0,\"CHINA MOBILE\",7\n").value_or(""), "中国移动");
    EXPECT_FALSE(parseOperator("\n+COPS: 0,0,\"T-Mobile\",7\n\nOK").has_value());
    EXPECT_FALSE(parseOperator("\n+COPS: 0\n\nOK").has_value());
    EXPECT_FALSE(parseOperator("\nCHN-UNICOM\n").has_value());  // no "COPS:"
    EXPECT_FALSE(parseOperator("").has_value());
}

}  // namespace
