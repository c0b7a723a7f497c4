// The support threshold read exactly from its decimal text, and the item
// count's form.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "driver/CommandLine.h"
#include "support/SupportFraction.h"

namespace {

long long Least(const char* text, long long sequences) {
    SupportFraction f;
    EXPECT_TRUE(ParseSupportFraction(text, &f)) << text;
    return LeastSupportCount(f, sequences);
}

TEST(SupportFraction, AcceptsDecimalsAndPercentagesInRange) {
    const char* good[] = {"1",    "1.0",   "1.",       ".5",      "0.05",  "5e-2",   "5E-2",
                          "50e-2", "100%", "0.5%",     "1e-300",  "0.00005e4", "10e-1",
                          "1e-99999999999999999999",  "0000.1000", "100.0%"};
    for (const char* text : good) {
        SupportFraction f;
        EXPECT_TRUE(ParseSupportFraction(text, &f)) << text;
    }
    const char* bad[] = {"",    "0",    "0.0",  "0%",   "-0.5", "+0.5", " 0.5", "0.5 ", "1.01",
                         "101%", "1e1", "10",   "2",    "inf",  "nan",  "0x10", "0.5abc", ".",
                         "e5",  "1e",   "1e+",  "5%%",  "%",    "1.000000000000000000001",
                         "1e99999999999999999999"};
    for (const char* text : bad) {
        SupportFraction f;
        EXPECT_FALSE(ParseSupportFraction(text, &f)) << "'" << text << "'";
    }
    SupportFraction f;
    ASSERT_TRUE(ParseSupportFraction("5%", &f));
    EXPECT_DOUBLE_EQ(f.approx, 0.05);
    ASSERT_TRUE(ParseSupportFraction("25e-2", &f));
    EXPECT_DOUBLE_EQ(f.approx, 0.25);
}

// Every k/100 and k/1000 of every count up to 400 against integer ceiling
// division: the products that floating point gets wrong (0.07 x 100) are
// among them.
TEST(SupportFraction, LeastCountIsTheExactCeiling) {
    for (int k = 1; k <= 1000; k++) {
        std::string hundredths = std::to_string(k / 100) + "." + (k % 100 < 10 ? "0" : "") +
                                 std::to_string(k % 100);
        std::string thousandths = std::to_string(k) + "e-3";
        for (long long n = 0; n <= 400; n++) {
            if (k <= 100) {
                ASSERT_EQ(Least(hundredths.c_str(), n), (k * n + 99) / 100) << hundredths << " of " << n;
                std::string percent = std::to_string(k) + "%";
                ASSERT_EQ(Least(percent.c_str(), n), (k * n + 99) / 100) << percent << " of " << n;
            }
            ASSERT_EQ(Least(thousandths.c_str(), n), (k * n + 999) / 1000) << thousandths << " of " << n;
        }
    }
}

TEST(SupportFraction, LeastCountAtTheExtremes) {
    EXPECT_EQ(Least("0.07", 100), 7);
    EXPECT_EQ(Least("0.5", 3), 2);
    EXPECT_EQ(Least("1e-300", 1), 1);
    EXPECT_EQ(Least("1e-300", INT_MAX), 1);
    EXPECT_EQ(Least("1e-99999999999999999999", 5), 1);
    EXPECT_EQ(Least("100%", INT_MAX), INT_MAX);
    EXPECT_EQ(Least("1", 0), 0);
    // Just above a whole count: the next one.
    EXPECT_EQ(Least("0.0700000000000000000000000001", 100), 8);
    // 2^31 - 1 times a long fraction just below 1.
    EXPECT_EQ(Least("0.99999999999999999999", INT_MAX), INT_MAX);
    EXPECT_EQ(Least("0.5", INT_MAX), INT_MAX / 2 + 1);
}

TEST(CommandLine, ItemCountIsWholeDecimalDigits) {
    int v = -5;
    EXPECT_TRUE(ParseItemCount("0", &v));
    EXPECT_EQ(v, 0);
    EXPECT_TRUE(ParseItemCount("2147483647", &v));
    EXPECT_EQ(v, INT_MAX);
    EXPECT_TRUE(ParseItemCount("007", &v));
    EXPECT_EQ(v, 7);
    for (const char* bad : {"", "2147483648", "99999999999999999999", "-1", "+1", "1e3", "99.9",
                            "abc", " 9", "9 ", "0x10"}) {
        EXPECT_FALSE(ParseItemCount(bad, &v)) << "'" << bad << "'";
    }
}

}  // namespace
