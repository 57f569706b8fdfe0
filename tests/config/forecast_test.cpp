// The forecast and weather store.
#include "config_fixture.h"

#include <cstring>

namespace {

using ForecastTest = ConfigTest;

TEST_F(ForecastTest, WindDirectionKeepsThreeCharacters) {
    const std::pair<std::string, std::string> cases[] = {
        {"N", "N"}, {"NNW", "NNW"}, {"NNWX", "NNW"}};
    for (const auto &[given, kept] : cases) {
        TstatCurrentForecast_t in{};
        in.outdoorTemp = fx(-3.5);
        // The field is four bytes, not necessarily terminated.
        memcpy(in.windDirection, given.data(), std::min<size_t>(given.size(), 4));
        setCurrentForecast(&in);
        TstatCurrentForecast_t out = valueOf(getCurrentForecast);
        EXPECT_EQ(std::string(out.windDirection), kept);
        EXPECT_EQ(+out.windDirection[3], '\0');
        EXPECT_EQ(+out.outdoorTemp, fx(-3.5));
    }
}

} // namespace
