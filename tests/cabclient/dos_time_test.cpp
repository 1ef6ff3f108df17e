#include "cabclient/dos_time.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

constexpr uint16_t Date(int y, int m, int d) { return static_cast<uint16_t>(((y - 1980) << 9) | (m << 5) | d); }
constexpr uint16_t Time(int h, int mi, int s) { return static_cast<uint16_t>((h << 11) | (mi << 5) | (s / 2)); }

class DosTime : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        m_savedTz = tz ? tz : "";
        m_hadTz = tz != nullptr;
        ::setenv("TZ", "UTC0", 1);
        ::tzset();
    }
    void TearDown() override {
        if (m_hadTz) ::setenv("TZ", m_savedTz.c_str(), 1);
        else ::unsetenv("TZ");
        ::tzset();
    }
    std::string m_savedTz;
    bool m_hadTz = false;
};

TEST_F(DosTime, ConvertsLocalTimeToUnixSeconds) {
    std::time_t t = 0;
    ASSERT_TRUE(cabclient::DosDateTimeToUnix(Date(1980, 1, 1), 0, t));
    EXPECT_EQ(t, 315532800);
    ASSERT_TRUE(cabclient::DosDateTimeToUnix(Date(2024, 2, 29), Time(23, 59, 58), t));
    EXPECT_EQ(t, 1709251198);

    ::setenv("TZ", "CST-8", 1);  // China, eight hours ahead of UTC
    ::tzset();
    ASSERT_TRUE(cabclient::DosDateTimeToUnix(Date(1980, 1, 1), Time(8, 0, 0), t));
    EXPECT_EQ(t, 315532800);
}

TEST_F(DosTime, RefusesValuesThatNameNoMoment) {
    struct { uint16_t date, time; } bad[] = {
        {Date(2020, 0, 1), 0}, {Date(2020, 13, 1), 0}, {Date(2020, 1, 0), 0},
        {Date(2021, 2, 29), 0}, {Date(2020, 4, 31), 0}, {Date(2020, 1, 1), Time(24, 0, 0)},
        {Date(2020, 1, 1), Time(0, 60, 0)}, {Date(2020, 1, 1), 30},
    };
    for (const auto& b : bad) {
        std::time_t t = 0;
        EXPECT_FALSE(cabclient::DosDateTimeToUnix(b.date, b.time, t)) << b.date << " " << b.time;
    }
}

TEST_F(DosTime, FormatsStoredFields) {
    char text[20];
    cabclient::FormatDosDateTime(Date(2026, 12, 11), Time(4, 31, 30), text);
    EXPECT_STREQ(text, "2026-12-11 04:31:30");
}

}  // namespace
