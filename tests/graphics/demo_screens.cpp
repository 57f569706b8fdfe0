// Demonstration screens of the graphics engine.
#include "demo_screens.h"

#include <cstdio>

namespace {

constexpr const char *BOLD = "./fonts/arialbd.ttf";
constexpr const char *REGULAR = "./fonts/arial.ttf";
constexpr uint32_t CLOCK_COLOR = 0x3D3D3D;
constexpr uint32_t WHITE = 0xFFFFFF;
constexpr uint32_t GREEN = 0x00FF00;

template <const char *TEXT> void fixed(char *buffer) {
    snprintf(buffer, SCREEN_TEXT_LEN, "%s", TEXT);
}

void clockText(char *buffer) {
    snprintf(buffer, SCREEN_TEXT_LEN, "%s", g_demoClock);
}

constexpr char kDate[] = "03-14-25";
constexpr char kIndoor[] = " 72\xB0";
constexpr char kCool[] = " 76";
constexpr char kHeat[] = " 68";
constexpr char kHumidity[] = " 42%";
constexpr char kHoldUntil[] = "01:05 PM";
constexpr char kOutdoor[] = " 58\xB0";
constexpr char kHigh[] = " 64\xB0";
constexpr char kLow[] = " 41\xB0";
constexpr char kEmpty[] = "";
constexpr char kFeels[] = " 55\xB0";
constexpr char kWind[] = "NW 12 mph";
constexpr char kDetailHumidity[] = "61%";
constexpr char kDew[] = " 44\xB0";
constexpr char kPressure[] = " 30.02 in";
constexpr char kSaver[] = "72\xB0";
constexpr char kFilter[] = "90";

const char *const c_MessageLines[10] = {"Building notice:",
                                        "The lobby doors will be",
                                        "closed on Saturday from",
                                        "8 am to noon for floor",
                                        "cleaning. Please use the",
                                        "garage entrance.",
                                        " ",
                                        " ",
                                        " ",
                                        " "};

void messageLine(char *buffer, uint32_t line) {
    snprintf(buffer, SCREEN_TEXT_LEN, "%s", line < 10 ? c_MessageLines[line] : "");
}

constexpr ScreenItem B(int16_t x, int16_t y, const char *path) {
    return screenBitmap(x, y, nullptr, path);
}

constexpr ScreenItem T(int16_t x, int16_t y, ScreenTextUpdateFn fn, const char *font, uint32_t size,
                       uint32_t color) {
    return screenText(x, y, nullptr, fn, font, size, color);
}

constexpr ScreenItem L(int16_t x, int16_t y, const char *text, const char *font, uint32_t size,
                       uint32_t color) {
    return screenLabel(x, y, nullptr, text, font, size, color);
}

#define DAY_BAR(y0)                                                                                \
    B(0, 0, "./images/SharedComposite/DayBar-OFF.png"),                                            \
        B(0, 0, "./images/SharedComposite/Days-01-Graphic-Sunday-ON.png"),                         \
        B(34, 0, "./images/SharedComposite/Days-02-Graphic-Monday-ON.png"),                        \
        B(69, 0, "./images/SharedComposite/Days-03-Graphic-Tuesday-ON.png"),                       \
        B(103, 0, "./images/SharedComposite/Days-04-Graphic-Wednesday-ON.png"),                    \
        B(138, 0, "./images/SharedComposite/Days-05-Graphic-Thursday-ON.png"),                     \
        B(173, 0, "./images/SharedComposite/Days-06-Graphic-Friday-ON.png"),                       \
        B(207, 0, "./images/SharedComposite/Days-07-Graphic-Saturday-ON.png")

#define CLOCK                                                                                      \
    T(4, 30, clockText, BOLD, 14, CLOCK_COLOR), T(175, 30, fixed<kDate>, BOLD, 14, CLOCK_COLOR)

#define UNDERVOLTAGE T(20, 110, fixed<kEmpty>, REGULAR, 32, 0xF00000)

} // namespace

char g_demoClock[16] = "10:24 am";

ScreenItem demoMainWithWeather[] = {
    B(0, 0, "./images/MainComposite/Main-Graphic-Bkgd-Wthr.png"),
    CLOCK,
    B(72, 24, "./images/Main/Main-Icon-PermanentHold.png"),
    DAY_BAR(0),
    T(40, 65, fixed<kIndoor>, BOLD, 80, 0x000000),
    B(54, 49, "./images/Main/Main-Icon-HoldUntil.png"),
    T(138, 52, fixed<kHoldUntil>, REGULAR, 13, 0x787878),
    B(191, 91, "./images/Main/Main-Icon-Alert-FilterReminder.png"),
    B(191, 91, "./images/Main/Main-Icon-Alert-Weather.png"),
    B(4, 100, "./images/Main/Main-Text-SystemOff.png"),
    T(7, 85, fixed<kCool>, BOLD, 18, 0x0000FF),
    T(7, 114, fixed<kHeat>, BOLD, 18, 0xFF0000),
    B(159, 173, "./images/Main/Main-Icon-Cool.png"),
    B(191, 173, "./images/Main/Main-Icon-Heat.png"),
    B(33, 173, "./images/Main/Main-Icon-Dehumidify.png"),
    B(64, 173, "./images/Main/Main-Icon-Humidify.png"),
    B(86, 173, "./images/Main/Main-Icon-Fan.png"),
    B(117, 173, "./images/Main/Main-Icon-Auxilary.png"),
    B(65, 146, "./images/Main/Main-Text-Humidity.png"),
    T(122, 142, fixed<kHumidity>, BOLD, 16, 0x7300D5),
    B(33, 49, "./images/Main/Adjusting1.png"),
    B(38, 56, "./images/Main/Adjusting2.png"),
    T(80, 235, fixed<kOutdoor>, REGULAR, 34, WHITE),
    B(5, 227, "./images/Weather/Current Conditions/Icon-Wthr-CurrentCond-PartlyCloudy.png"),
    B(145, 240, "./images/Weather/Current Conditions/Info - CurrentCond - PartlyCloudy.png"),
    B(85, 285, "./images/Label - CurrentCond - High.png"),
    T(120, 280, fixed<kHigh>, REGULAR, 16, WHITE),
    B(160, 285, "./images/Label - CurrentCond - Low.png"),
    T(195, 280, fixed<kLow>, REGULAR, 16, WHITE),
    B(0, 201, "./images/Main/Main-B1-Graphic-OFF.png"),
    B(79, 201, "./images/Main/Main-B2-Graphic-OFF.png"),
    B(160, 201, "./images/Main/Main-B3-Graphic-OFF.png"),
    B(0, 201, "./images/Main/Main-B1-Text-FanAuto-Online.png"),
    B(79, 201, "./images/Main/Main-B2-Text-Auto-Online.png"),
    B(160, 201, "./images/Main/Main-B3-Text-Hold-Online.png"),
    B(0, 0, "./images/DiagnosticModeComposite/Diagnostic-Graphic-Bkgd.png"),
    B(0, 0, "./images/Main/Main-B3-PU-Graphic-Bkgd.png"),
    B(160, 132, "./images/Main/Main-B3-PU-Button-Graphic-OFF.png"),
    B(160, 132, "./images/Main/Main-B3-PU-S1-Text-Permanent.png"),
    B(160, 155, "./images/Main/Main-B3-PU-Button-Graphic-ON.png"),
    B(160, 155, "./images/Main/Main-B3-PU-S2-Text-Temporary.png"),
    B(160, 178, "./images/Main/Main-B3-PU-Button-Graphic-OFF.png"),
    B(160, 178, "./images/Main/Main-B3-PU-S3-Text-Program.png"),
    B(160, 201, "./images/Main/Main-B3-Graphic-ON.png"),
    B(160, 201, "./images/Main/Main-B3-PU-Text-HoldMode.png"),
    B(0, 0, "./images/Main/Main-B2-PU-Graphic-Bkgd-Emergency.png"),
    B(79, 86, "./images/Main/Main-B2-PU-Button-Graphic-OFF.png"),
    B(79, 86, "./images/Main/Main-B2-PU-S1-Text-Emergency.png"),
    B(79, 109, "./images/Main/Main-B2-PU-Button-Graphic-ON.png"),
    B(79, 109, "./images/Main/Main-B2-PU-S2-Text-Auto.png"),
    B(79, 132, "./images/Main/Main-B2-PU-Button-Graphic-OFF.png"),
    B(79, 132, "./images/Main/Main-B2-PU-S3-Text-Off.png"),
    B(79, 155, "./images/Main/Main-B2-PU-Button-Graphic-OFF.png"),
    B(79, 155, "./images/Main/Main-B2-PU-S4-Text-Heat.png"),
    B(79, 178, "./images/Main/Main-B2-PU-Button-Graphic-OFF.png"),
    B(79, 178, "./images/Main/Main-B2-PU-S5-Text-Cool.png"),
    B(79, 201, "./images/Main/Main-B2-Graphic-ON.png"),
    B(79, 201, "./images/Main/Main-B2-PU-Text-HCMode.png"),
    B(0, 0, "./images/Main/Main-B1-PU-Graphic-Bkgd.png"),
    B(0, 155, "./images/Main/Main-B1-PU-Button-Graphic-ON.png"),
    B(0, 155, "./images/Main/Main-B1-PU-S2-Text-FanAuto.png"),
    B(0, 178, "./images/Main/Main-B1-PU-Button-Graphic-OFF.png"),
    B(0, 178, "./images/Main/Main-B1-PU-S2-Text-FanOn.png"),
    B(0, 201, "./images/Main/Main-B1-Graphic-ON.png"),
    B(0, 201, "./images/Main/Main-B1-PU-Text-FanMode.png"),
    B(35, 300, "./images/Main/Main-HelpBar-Graphic.png"),
    B(35, 300, "./images/Main/Main-HelpBar-Text.png"),
    UNDERVOLTAGE,
    screenEnd(),
};
const size_t DEMO_MAIN_WITH_WEATHER_ITEMS = sizeof(demoMainWithWeather) / sizeof(ScreenItem) - 1;

namespace {

ScreenItem demoMainWithoutWeather[] = {
    B(0, 0, "./images/MainComposite/Main-Graphic-Bkgd-No-Wthr.png"),
    CLOCK,
    B(72, 24, "./images/Main/Main-Icon-PermanentHold.png"),
    DAY_BAR(0),
    T(40, 108, fixed<kIndoor>, BOLD, 80, 0x000000),
    B(39, 72, "./images/Main/Main-Icon-AwayUntil.png"),
    T(133, 75, fixed<kHoldUntil>, REGULAR, 13, 0x787878),
    B(191, 134, "./images/Main/Main-Icon-Alert-FilterReminder.png"),
    B(0, 121, "./images/Main/Main-SP-Graphic-Heat.png"),
    T(7, 157, fixed<kHeat>, BOLD, 18, 0xFF0000),
    B(159, 267, "./images/Main/Main-Icon-Cool.png"),
    B(191, 267, "./images/Main/Main-Icon-Heat.png"),
    B(33, 267, "./images/Main/Main-Icon-Dehumidify.png"),
    B(64, 267, "./images/Main/Main-Icon-Humidify.png"),
    B(86, 267, "./images/Main/Main-Icon-Fan.png"),
    B(117, 267, "./images/Main/Main-Icon-Auxilary.png"),
    B(65, 189, "./images/Main/Main-Text-Humidity.png"),
    T(122, 185, fixed<kHumidity>, BOLD, 16, 0x7300D5),
    B(35, 224, "./images/Main-FS/Main-FS-HelpBar-Graphic.png"),
    B(35, 224, "./images/Main-FS/Main-FS-HelpBar-Text.png"),
    B(0, 295, "./images/Main/Main-B1-Graphic-OFF.png"),
    B(79, 295, "./images/Main/Main-B2-Graphic-OFF.png"),
    B(160, 295, "./images/Main/Main-B3-Graphic-OFF.png"),
    B(0, 295, "./images/Main/Main-B1-Text-FanOn-Offline.png"),
    B(79, 295, "./images/Main/Main-B2-Text-Heat-Locked.png"),
    B(160, 295, "./images/Main/Main-B3-Text-Away-Locked.png"),
    UNDERVOLTAGE,
    screenEnd(),
};

ScreenItem demoMainPopup[] = {
    B(0, 0, "./images/MainComposite/Main-Graphic-Bkgd-No-Wthr.png"),
    CLOCK,
    DAY_BAR(0),
    T(40, 108, fixed<kIndoor>, BOLD, 80, 0x000000),
    B(0, 121, "./images/Main/Main-SP-Graphic-Cool.png"),
    T(7, 128, fixed<kCool>, BOLD, 18, 0x0000FF),
    B(65, 189, "./images/Main/Main-Text-Humidity.png"),
    T(122, 185, fixed<kHumidity>, BOLD, 16, 0x7300D5),
    B(159, 267, "./images/Main/Main-Icon-Cool.png"),
    B(86, 267, "./images/Main/Main-Icon-Fan.png"),
    B(0, 295, "./images/Main/Main-B1-Graphic-OFF.png"),
    B(79, 295, "./images/Main/Main-B2-Graphic-OFF.png"),
    B(160, 295, "./images/Main/Main-B3-Graphic-OFF.png"),
    B(0, 295, "./images/Main/Main-B1-Text-FanAuto-Online.png"),
    B(79, 295, "./images/Main/Main-B2-Text-Cool-Online.png"),
    B(160, 295, "./images/Main/Main-B3-Text-Program-Online.png"),
    B(0, 0, "./images/Main-FS/Main-B2-PU-Graphic-Bkgd-NoEmergency.png"),
    B(79, 203, "./images/Main/Main-B2-PU-Button-Graphic-OFF.png"),
    B(79, 203, "./images/Main/Main-B2-PU-S2-Text-Auto.png"),
    B(79, 226, "./images/Main/Main-B2-PU-Button-Graphic-OFF.png"),
    B(79, 226, "./images/Main/Main-B2-PU-S3-Text-Off.png"),
    B(79, 249, "./images/Main/Main-B2-PU-Button-Graphic-OFF.png"),
    B(79, 249, "./images/Main/Main-B2-PU-S4-Text-Heat.png"),
    B(79, 272, "./images/Main/Main-B2-PU-Button-Graphic-ON.png"),
    B(79, 272, "./images/Main/Main-B2-PU-S5-Text-Cool.png"),
    B(79, 295, "./images/Main/Main-B2-Graphic-ON.png"),
    B(79, 295, "./images/Main/Main-B2-PU-Text-HCMode.png"),
    screenEnd(),
};

ScreenItem demoDetail[] = {
    B(0, 0, "./images/Weather/Current Conditions/Weather-CurrentCond-Graphic-Bkgd.png"),
    DAY_BAR(0),
    T(80, 38, fixed<kOutdoor>, REGULAR, 34, WHITE),
    B(5, 37, "./images/Weather/Current Conditions/Icon-Wthr-CurrentCond-RainShowers.png"),
    B(145, 43, "./images/Weather/Current Conditions/Info - CurrentCond - RainShowers.png"),
    B(85, 100, "./images/Label - CurrentCond - High.png"),
    T(120, 96, fixed<kHigh>, REGULAR, 16, WHITE),
    B(165, 100, "./images/Label - CurrentCond - Low.png"),
    T(200, 96, fixed<kLow>, REGULAR, 16, WHITE),
    B(50, 165, "./images/Label - 4CastDetail - FeelsLike.png"),
    T(125, 175, fixed<kFeels>, REGULAR, 32, WHITE),
    B(45, 225, "./images/Label - 4CastDetail - Wind.png"),
    T(100, 225, fixed<kWind>, REGULAR, 16, WHITE),
    B(10, 275, "./images/Label - 4CastDetail - Humidity.png"),
    T(30, 290, fixed<kDetailHumidity>, REGULAR, 16, WHITE),
    B(85, 275, "./images/Label - 4CastDetail - DewPoint.png"),
    T(103, 290, fixed<kDew>, REGULAR, 16, WHITE),
    B(165, 275, "./images/Label - 4CastDetail - Pressure.png"),
    T(160, 290, fixed<kPressure>, REGULAR, 16, WHITE),
    UNDERVOLTAGE,
    screenEnd(),
};

#define FIVE_DAY_ROW(dow, dowY, iconY, infoY, highY, lowX, textY, cond, info)                      \
    B(5, dowY, "./images/Weather/5-Day Forecast/Label - 5Day - DOW - " dow ".png"),                \
        B(40, iconY, "./images/Weather/5-Day Forecast/Icon-5Day-Condition-" cond ".png"),          \
        B(98, infoY, "./images/Weather/5-Day Forecast/Info - 5Day - Condition - " info ".png"),    \
        B(98, highY, "./images/Label - CurrentCond - High.png"),                                   \
        T(133, textY, fixed<kHigh>, REGULAR, 16, WHITE),                                           \
        B(lowX, highY, "./images/Label - CurrentCond - Low.png"),                                  \
        T(205, textY, fixed<kLow>, REGULAR, 16, WHITE)

ScreenItem demoFiveDay[] = {
    B(0, 0, "./images/Weather/5-Day Forecast/Weather-4Cast-Graphic-Bkgd.png"),
    FIVE_DAY_ROW("FRI", 67, 29, 34, 65, 174, 61, "MostlySunny", "MostlySunny"),
    FIVE_DAY_ROW("SAT", 126, 89, 96, 126, 174, 122, "Thunderstorm", "Thunderstorms"),
    FIVE_DAY_ROW("SUN", 187, 149, 155, 185, 174, 181, "RainSnow", "RainSnowMix"),
    FIVE_DAY_ROW("MON", 245, 208, 215, 244, 169, 240, "Snow", "Snow"),
    FIVE_DAY_ROW("TUE", 303, 266, 272, 300, 174, 295, "Sunny", "Sunny"),
    UNDERVOLTAGE,
    screenEnd(),
};

ScreenItem demoMessage[] = {
    B(0, 0, "./images/MessageComposite/Message-Graphic-Bkgd.png"),
    T(4, 28, clockText, BOLD, 14, CLOCK_COLOR),
    T(175, 28, fixed<kDate>, BOLD, 14, CLOCK_COLOR),
    B(0, 0, "./images/SharedComposite/Days-01-Graphic-Sunday-ON.png"),
    B(34, 0, "./images/SharedComposite/Days-02-Graphic-Monday-ON.png"),
    B(69, 0, "./images/SharedComposite/Days-03-Graphic-Tuesday-ON.png"),
    B(103, 0, "./images/SharedComposite/Days-04-Graphic-Wednesday-ON.png"),
    B(138, 0, "./images/SharedComposite/Days-05-Graphic-Thursday-ON.png"),
    B(173, 0, "./images/SharedComposite/Days-06-Graphic-Friday-ON.png"),
    B(207, 0, "./images/SharedComposite/Days-07-Graphic-Saturday-ON.png"),
    screenTextIndexed(28, 87, nullptr, messageLine, 0, REGULAR, 15, WHITE),
    screenTextIndexed(28, 107, nullptr, messageLine, 1, REGULAR, 15, WHITE),
    screenTextIndexed(28, 127, nullptr, messageLine, 2, REGULAR, 15, WHITE),
    screenTextIndexed(28, 147, nullptr, messageLine, 3, REGULAR, 15, WHITE),
    screenTextIndexed(28, 167, nullptr, messageLine, 4, REGULAR, 15, WHITE),
    screenTextIndexed(28, 187, nullptr, messageLine, 5, REGULAR, 15, WHITE),
    screenTextIndexed(28, 207, nullptr, messageLine, 6, REGULAR, 15, WHITE),
    screenTextIndexed(28, 227, nullptr, messageLine, 7, REGULAR, 15, WHITE),
    screenTextIndexed(28, 247, nullptr, messageLine, 8, REGULAR, 15, WHITE),
    screenTextIndexed(28, 267, nullptr, messageLine, 9, REGULAR, 15, WHITE),
    UNDERVOLTAGE,
    screenEnd(),
};

ScreenItem demoHelp[] = {
    B(0, 0, "./images/Graphic-Bkgd-Pinstripes.png"),
    B(0, 0, "./images/Help/Help-Graphic-Bkgd.png"),
    B(0, 52, "./images/Help/Help-H1-Text-Help.png"),
    B(17, 86, "./images/Help/Help-Text-Info.png"),
    CLOCK,
    DAY_BAR(0),
    screenEnd(),
};

ScreenItem demoSaver[] = {
    B(0, 0, "./images/screensaver.png"),
    T(64, 118, fixed<kSaver>, BOLD, 80, 0xD3D3D3),
    screenEnd(),
};

// A settings page as its author might lay it out: four rows, two buttons.
ScreenItem demoSettings[] = {
    B(0, 0, "./images/Graphic-Bkgd-Pinstripes.png"),
    DAY_BAR(0),
    CLOCK,
    B(6, 54, "./images/Settings/Settings-S1-Graphic-ON.png"),
    B(6, 54, "./images/Settings/Settings-S1-Text1-HVACMode-ON.png"),
    B(138, 54, "./images/Settings/Settings-S1-Text2-Auto.png"),
    B(6, 98, "./images/Settings/Settings-S2-Graphic-OFF.png"),
    B(6, 98, "./images/Settings/Settings-S2-Text1-FanMode-OFF.png"),
    B(138, 98, "./images/Settings/Settings-S2-Text2-Auto.png"),
    B(6, 142, "./images/Settings/Settings-S3-Graphic-OFF.png"),
    B(6, 142, "./images/Settings/Settings-S3-Text1-FanSpeed-Locked.png"),
    B(138, 142, "./images/Settings/Settings-S3-Text2-Med-Locked.png"),
    B(6, 186, "./images/Settings/Settings-S4-Graphic-OFF.png"),
    B(6, 186, "./images/Settings/Settings-S4-Text1-FilterReminder-OFF.png"),
    T(192, 195, fixed<kFilter>, BOLD, 16, WHITE),
    B(4, 238, "./images/Graphic-Button-OFF.png"),
    B(4, 238, "./images/Settings/Settings-B1-Text-AdvSet-OFF.png"),
    B(124, 238, "./images/Graphic-Button-OFF.png"),
    B(124, 238, "./images/Button-Text-Exit-OFF.png"),
    B(52, 90, "./images/Settings/Settings-PU1-Graphic-Bkgd.png"),
    B(60, 120, "./images/Settings/Settings-PU-Graphic-Button-OFF.png"),
    L(70, 123, "Auto", BOLD, 14, WHITE),
    B(60, 150, "./images/Settings/Settings-PU-Graphic-Button-ON.png"),
    L(70, 153, "Cool", BOLD, 14, WHITE),
    B(60, 180, "./images/Settings/Settings-PU-Graphic-Button-OFF.png"),
    L(70, 183, "Heat", BOLD, 14, WHITE),
    B(60, 210, "./images/Settings/Settings-PU-Graphic-Button-OFF.png"),
    L(70, 213, "Off", BOLD, 14, WHITE),
    B(60, 240, "./images/Settings/Settings-PU-Graphic-Button-OFF.png"),
    L(70, 243, "Emergency", BOLD, 14, WHITE),
    UNDERVOLTAGE,
    screenEnd(),
};

ScreenItem demoTstat[] = {
    B(0, 0, "./images/Graphic-Bkgd-Pinstripes.png"),
    DAY_BAR(0),
    CLOCK,
    B(20, 58, "./images/TSTAT/Tstat-S1-Text-EnablePH-OFF.png"),
    B(20, 104, "./images/TSTAT/Tstat-S2-Text-Program-ON.png"),
    B(20, 150, "./images/TSTAT/Tstat-S3-Text-Away-OFF.png"),
    B(20, 196, "./images/TSTAT/Tstat-S4-Text-Settings-OFF.png"),
    B(20, 242, "./images/TSTAT/Tstat-S5-Text-Exit-OFF.png"),
    UNDERVOLTAGE,
    screenEnd(),
};

ScreenItem demoCopyTo[] = {
    B(0, 0, "./images/Graphic-Bkgd-Pinstripes.png"),
    DAY_BAR(0),
    CLOCK,
    B(16, 54, "./images/Program/CopyTo/CopyTo-D1-Graphic-NoCopy-OFF.png"),
    B(16, 54, "./images/Program/CopyTo/CopyTo-D1-Text-Sunday-OFF.png"),
    B(16, 84, "./images/Program/CopyTo/CopyTo-D2_6-Graphic-Copy-OFF.png"),
    B(16, 84, "./images/Program/CopyTo/CopyTo-D2-Text-Monday-OFF.png"),
    B(16, 114, "./images/Program/CopyTo/CopyTo-D2_6-Graphic-NoCopy-OFF.png"),
    B(16, 114, "./images/Program/CopyTo/CopyTo-D3-Text-Tuesday-OFF.png"),
    B(16, 144, "./images/Program/CopyTo/CopyTo-D2_6-Graphic-NoCopy-OFF.png"),
    B(16, 144, "./images/Program/CopyTo/CopyTo-D4-Text-Wednesday-CURRENT.png"),
    B(16, 174, "./images/Program/CopyTo/CopyTo-D2_6-Graphic-Copy-ON.png"),
    B(16, 174, "./images/Program/CopyTo/CopyTo-D5-Text-Thursday-ON.png"),
    B(16, 204, "./images/Program/CopyTo/CopyTo-D2_6-Graphic-Copy-OFF.png"),
    B(16, 204, "./images/Program/CopyTo/CopyTo-D6-Text-Friday-OFF.png"),
    B(16, 234, "./images/Program/CopyTo/CopyTo-D7-Graphic-NoCopy-OFF.png"),
    B(16, 234, "./images/Program/CopyTo/CopyTo-D7-Text-Saturday-OFF.png"),
    B(64, 276, "./images/Graphic-Button-OFF.png"),
    B(64, 276, "./images/Program/CopyTo/CopyTo-B1-Text-Done-OFF.png"),
    UNDERVOLTAGE,
    screenEnd(),
};

constexpr char kDigit1[] = "1";
constexpr char kDigit2[] = "2";
constexpr char kDigit3[] = "3";

ScreenItem demoSetup[] = {
    B(0, 0, "./images/Setup/bkg.png"),
    DAY_BAR(0),
    CLOCK,
    B(0, 50, "./images/Setup/page_hdr.png"),
    B(0, 50, "./images/Setup/Label - Setup - KorabusCommunications.png"),
    L(30, 96, "Address :", BOLD, 16, WHITE),
    T(130, 90, fixed<kDigit1>, BOLD, 24, WHITE),
    T(152, 90, fixed<kDigit2>, BOLD, 24, WHITE),
    T(174, 90, fixed<kDigit3>, BOLD, 24, GREEN),
    L(30, 150, "Enter", BOLD, 16, WHITE),
    L(30, 180, "Cancel", BOLD, 16, WHITE),
    L(30, 280, "2.10/3.04", REGULAR, 12, 0xB9C7D8),
    UNDERVOLTAGE,
    screenEnd(),
};

} // namespace

// One item of each kind: bitmaps, texts and glyphs from the glyph file.
ScreenItem demoKinds[] = {
    B(0, 0, "./images/Setup/bkg.png"),
    DAY_BAR(0),
    CLOCK,
    B(0, 50, "./images/Setup/page_hdr.png"),
    L(10, 56, "Bitmaps, texts and glyphs", BOLD, 15, WHITE),
    B(10, 96, "./images/Main/Main-Icon-Heat.png"),
    B(40, 96, "./images/Main/Main-Icon-Cool.png"),
    B(70, 96, "./images/Main/Main-Icon-Fan.png"),
    L(10, 130, "Liberation Sans 16", REGULAR, 16, WHITE),
    L(10, 152, "Liberation Sans Bold 16", BOLD, 16, GREEN),
    screenGlyph(10, 180, nullptr, '7', 0xFFFF00),
    screenGlyph(26, 180, nullptr, '2', 0xFFFF00),
    screenGlyph(42, 180, nullptr, 176, 0xFFFF00),
    screenGlyph(60, 180, nullptr, 'F', 0xFFFF00),
    screenGlyph(100, 190, nullptr, 128, 0x00FF1F),
    screenGlyph(100, 204, nullptr, 129, 0x1F0000),
    screenGlyph(130, 192, nullptr, 130, 0x1F3F1F),
    screenGlyph(146, 192, nullptr, 131, 0x1F3F1F),
    UNDERVOLTAGE,
    screenEnd(),
};

namespace {

void hideRange(DisplayContext *display, ScreenItem *items, int first, int last) {
    for (int i = first; i <= last; i++) {
        screenSetBitmapVisibility(display, &items[i], 0);
    }
}

// The day bar shows today only (Friday in the demo).
void onlyToday(DisplayContext *display, ScreenItem *items, int sunday) {
    for (int d = 0; d < 7; d++) {
        screenSetBitmapVisibility(display, &items[sunday + d], d == 5 ? 1 : 0);
    }
}

void prepareMainWithWeather(DisplayContext *display) {
    ScreenItem *m = demoMainWithWeather;
    onlyToday(display, m, 5);
    screenSetBitmapVisibility(display, &m[3], 0); // permanent hold
    screenRemoveBitmap(display, &m[15]);          // filter reminder
    screenReplaceAndMoveBitmap(display, &m[17], "./images/Main/Main-SP-Graphic-Auto.png", 0, 78);
    hideRange(display, m, 22, 23);                 // dehumidify, humidify
    screenSetBitmapVisibility(display, &m[20], 0); // cooling
    screenSetBitmapVisibility(display, &m[25], 0); // auxiliary heat
    screenRemoveBitmap(display, &m[28]);
    screenRemoveBitmap(display, &m[29]);
    hideRange(display, m, 43, 74); // diagnostics, pop-ups, help bar
}

// The same screen in diagnostic mode, adjusting, with the filter reminder and
// the mode pop-up open.
void prepareMainWithWeatherMenu(DisplayContext *display) {
    ScreenItem *m = demoMainWithWeather;
    onlyToday(display, m, 5);
    for (int i = 0; i < static_cast<int>(DEMO_MAIN_WITH_WEATHER_ITEMS); i++) {
        if (m[i].kind == SCREEN_ITEM_BITMAP) {
            screenSetBitmapVisibility(display, &m[i], 1);
        }
    }
    onlyToday(display, m, 5);
    hideRange(display, m, 3, 3);   // permanent hold
    hideRange(display, m, 13, 13); // hold status
    screenSetTextVisibility(display, &m[14], 0);
    screenAddBitmap(display, &m[15]);
    screenSetBitmapVisibility(display, &m[16], 0);
    screenAddBitmap(display, &m[28]);
    screenRemoveBitmap(display, &m[29]);
    screenReplaceAndMoveBitmap(display, &m[17], "./images/Main/Main-SP-Graphic-Heat.png", 0, 78);
    screenSetTextVisibility(display, &m[18], 0);
    hideRange(display, m, 20, 23);
    hideRange(display, m, 53, 74); // the HVAC and fan pop-ups, the help bar
}

void prepareMainPopup(DisplayContext *display) {
    onlyToday(display, demoMainPopup, 4);
}

void prepareMainWithoutWeather(DisplayContext *display) {
    ScreenItem *m = demoMainWithoutWeather;
    onlyToday(display, m, 5);
    screenSetBitmapVisibility(display, &m[3], 0);  // permanent hold
    screenSetBitmapVisibility(display, &m[18], 0); // cooling
    hideRange(display, m, 20, 21);                 // dehumidify, humidify
    screenSetBitmapVisibility(display, &m[23], 0); // auxiliary heat
}

void prepareDetail(DisplayContext *display) {
    onlyToday(display, demoDetail, 2);
}

void prepareMessage(DisplayContext *display) {
    onlyToday(display, demoMessage, 3);
}

void prepareHelp(DisplayContext *display) {
    onlyToday(display, demoHelp, 7);
}

void prepareSettings(DisplayContext *display) {
    onlyToday(display, demoSettings, 2);
}

void prepareTstat(DisplayContext *display) {
    onlyToday(display, demoTstat, 2);
}

void prepareCopyTo(DisplayContext *display) {
    onlyToday(display, demoCopyTo, 2);
}

void prepareSetup(DisplayContext *display) {
    onlyToday(display, demoSetup, 2);
}

void prepareKinds(DisplayContext *display) {
    onlyToday(display, demoKinds, 2);
}

const DemoScreen c_DemoScreens[] = {
    {"main-weather", demoMainWithWeather, prepareMainWithWeather},
    {"main-weather-menu", demoMainWithWeather, prepareMainWithWeatherMenu},
    {"main-no-weather", demoMainWithoutWeather, prepareMainWithoutWeather},
    {"main-popup", demoMainPopup, prepareMainPopup},
    {"forecast-detail", demoDetail, prepareDetail},
    {"forecast-five-day", demoFiveDay, nullptr},
    {"message", demoMessage, prepareMessage},
    {"help", demoHelp, prepareHelp},
    {"screensaver", demoSaver, nullptr},
    {"settings", demoSettings, prepareSettings},
    {"thermostat-mode", demoTstat, prepareTstat},
    {"copy-to", demoCopyTo, prepareCopyTo},
    {"setup", demoSetup, prepareSetup},
    {"item-kinds", demoKinds, prepareKinds},
};

} // namespace

const DemoScreen *demoScreens(size_t *count) {
    *count = sizeof(c_DemoScreens) / sizeof(c_DemoScreens[0]);
    return c_DemoScreens;
}
