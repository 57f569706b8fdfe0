// The forecast and weather store.
#include "config_fixture.h"

#include <cstring>

namespace {

using ForecastTest = ConfigTest;

TEST_F(ForecastTest, EmptyUntilDataArrives) {
    TstatCurrentForecast_t current;
    memset(&current, 0x5A, sizeof(current));
    getCurrentForecast(&current);
    TstatCurrentForecast_t zero{};
    EXPECT_EQ(memcmp(&current, &zero, sizeof(zero)), 0);
    EXPECT_STREQ(current.windDirection, "");
    TstatFiveDayForecast_t fiveDay;
    memset(&fiveDay, 0x5A, sizeof(fiveDay));
    getFiveDayForecast(&fiveDay);
    TstatFiveDayForecast_t zeroDays{};
    EXPECT_EQ(memcmp(&fiveDay, &zeroDays, sizeof(zeroDays)), 0);
    EXPECT_EQ(getFiveDayFcastChange(), 0);
    EXPECT_EQ(getBarometricPressure(), 0);
}

TEST_F(ForecastTest, WindDirectionKeepsThreeCharacters) {
    const std::pair<std::string, std::string> cases[] = {
        {"N", "N"}, {"NNW", "NNW"}, {"NNWX", "NNW"}};
    for (const auto &[given, kept] : cases) {
        TstatCurrentForecast_t in{};
        in.outdoorTemp = fx(-3.5);
        // The field is four bytes, not necessarily terminated.
        memcpy(in.windDirection, given.data(), std::min<size_t>(given.size(), 4));
        setCurrentForecast(&in);
        TstatCurrentForecast_t out;
        getCurrentForecast(&out);
        EXPECT_EQ(std::string(out.windDirection), kept);
        EXPECT_EQ(+out.windDirection[3], '\0');
        EXPECT_EQ(+out.outdoorTemp, fx(-3.5));
    }
    setBarometricPressure(fx(76.2));
    TstatCurrentForecast_t out;
    getCurrentForecast(&out);
    EXPECT_EQ(+out.barometricPressure, fx(76.2));
    EXPECT_EQ(+out.outdoorTemp, fx(-3.5));
}

TEST_F(ForecastTest, FiveDayUpdateRaisesTheChangeFlag) {
    TstatFiveDayForecast_t days{};
    days.highTemp[4] = fx(30);
    days.condition[0] = 7;
    setFiveDayForecast(&days);
    EXPECT_EQ(getFiveDayFcastChange(), 1);
    setFiveDayFcastChange(0);
    // The same values again still count as an update.
    setFiveDayForecast(&days);
    EXPECT_EQ(getFiveDayFcastChange(), 1);
    TstatFiveDayForecast_t out;
    getFiveDayForecast(&out);
    EXPECT_EQ(+out.highTemp[4], fx(30));
    EXPECT_EQ(+out.condition[0], 7u);
}

} // namespace
