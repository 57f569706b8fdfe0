// Temperature scale: conversions and printers.
#include "config_fixture.h"

namespace {

using TempScaleTest = ConfigTest;

TEST_F(TempScaleTest, FahrenheitConversions) {
    bootTestRecord();
    setScale(TEMP_SCALE_FAHRENHEIT);
    EXPECT_EQ(tempCelToFahConversion(0), 262144);
    EXPECT_EQ(tempCelToFahConversion(163840), 557056);
    EXPECT_EQ(tempFahToCelConversion(262144), 0);
    EXPECT_EQ(tempFahToCelConversion(557056), 163840);
    // 70 F truncates to 172942 (21.1110); back it is just under 70.
    EXPECT_EQ(tempFahToCelConversion(fx(70)), 172942);
    EXPECT_EQ(tempCelToFahConversion(172942), 573439);
    EXPECT_EQ(convertDiffCelToFah(4096), 8192);
    EXPECT_EQ(convertDiffFahToCel(8192), 4096);
    EXPECT_EQ(pressureCmToInchConversion(fx(10)), 32250);
    EXPECT_EQ(windSpeedKphToMphConversion(fx(100)), 509000);
    // An overflowing step leaves its input, the chain goes on: x 9 fails, / 5, + 32.
    EXPECT_EQ(tempCelToFahConversion(FPR_MAX), 13421772 + 262144);
}

TEST(TempPrinters, PrintIntoTheGivenBuffer) {
    // Before the first initialisation of the format printing works too.
    char text[8];
    g_PrintTempInCurrentFormat(text, sizeof(text), 5);
    EXPECT_STREQ(text, " 5\xB0");
    printTempInFahrenheit(text, sizeof(text), 72);
    EXPECT_STREQ(text, "72\xB0");
    printTempInCelsius(text, sizeof(text), -5);
    EXPECT_STREQ(text, "-5\xB0");
    printTempInCelsius(text, sizeof(text), -32768);
    EXPECT_STREQ(text, "-32768\xB0");
    char small[3] = {'x', 'x', 'x'};
    printTempInFahrenheit(small, sizeof(small), 100);
    EXPECT_STREQ(small, "10");
    printSystemOffTemp(text, sizeof(text));
    EXPECT_STREQ(text, "-");
}

} // namespace
