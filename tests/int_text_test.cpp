// Whole-text integer conversion, as the baud-rate box uses it.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "session/int_text.h"

namespace {

struct Case {
    std::string text;
    std::optional<std::int32_t> value;  // nothing: the text must be refused
};

const Case kCases[] = {
    {"0", 0},
    {"9600", 9600},
    {" 42", 42},
    {"   -7", -7},
    {"+7", 7},
    {"-0", 0},
    {"007", 7},
    {"2147483647", 2147483647},
    {"-2147483648", INT32_MIN},
    {"$7FFFFFFF", INT32_MAX},
    {"$ff", 255},
    {"x1A", 26},
    {"X1a", 26},
    {"0X1f", 31},
    {"0x0", 0},
    {"-$10", -16},
    {"-0x80000000", INT32_MIN},
    {" +0x7fffffff", INT32_MAX},
    {"2147483648", std::nullopt},
    {"-2147483649", std::nullopt},
    {"0x80000000", std::nullopt},
    {"$80000000", std::nullopt},
    {"-0x80000001", std::nullopt},
    {"0x100000000", std::nullopt},
    {"99999999999", std::nullopt},
    {"99999999999999999999999", std::nullopt},
    {"9600x", std::nullopt},
    {"", std::nullopt},
    {" ", std::nullopt},
    {" 0x", std::nullopt},
    {"$", std::nullopt},
    {"x", std::nullopt},
    {"+", std::nullopt},
    {"-", std::nullopt},
    {"- 5", std::nullopt},
    {"+-5", std::nullopt},
    {"12 ", std::nullopt},
    {"\t5", std::nullopt},
    {"1 2", std::nullopt},
    {"0x-5", std::nullopt},
    {"$$1", std::nullopt},
    {"0xx1", std::nullopt},
    {"1A", std::nullopt},
    {"0xG", std::nullopt},
    {"1e3", std::nullopt},
    {"9.6", std::nullopt},
    {"\xd9\xa1", std::nullopt},
    {std::string("5\0", 2), std::nullopt},
};

TEST(TextToInt, AcceptsOnlyWholeTextsThatFitInt32) {
    for (const Case& c : kCases) {
        SCOPED_TRACE("text '" + c.text + "'");
        if (c.value) {
            EXPECT_EQ(session::textToInt(c.text), *c.value);
        } else {
            EXPECT_THROW(session::textToInt(c.text), session::ConvertError);
        }
    }
}

TEST(TextToInt, ErrorQuotesTheTextAsGiven) {
    for (const std::string text : {"", " 12 ", "9600x", "$"}) {
        try {
            session::textToInt(text);
            ADD_FAILURE() << "accepted '" << text << "'";
        } catch (const session::ConvertError& e) {
            EXPECT_EQ(std::string(e.what()), "'" + text + "' is not a valid integer value");
        }
    }
}

}  // namespace
