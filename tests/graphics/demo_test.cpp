// The graphics demo: renders every demonstration screen headless and writes
// it to <build>/graphics-demo/<name>.png for review. Each screen must load
// without a single failure message.
#include "demo_screens.h"
#include "display_fixture.h"

#include <filesystem>

namespace {

class Demo : public HeadlessDisplay {};

TEST_F(Demo, RendersEveryScreen) {
    DisplayHandle d = start();
    ASSERT_NE(d, nullptr);
    std::string outDir = TSTAT_BUILD_DIR "/graphics-demo";
    std::filesystem::create_directories(outDir);
    size_t count = 0;
    const DemoScreen *screens = demoScreens(&count);
    for (size_t i = 0; i < count; i++) {
        testing::internal::CaptureStdout();
        screenSetCurrentScreen(d, screens[i].items);
        if (screens[i].prepare != nullptr) {
            screens[i].prepare(d);
        }
        screenRender(d);
        std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_EQ(printed, "") << screens[i].name;
        std::string path = outDir + "/" + screens[i].name + ".png";
        EXPECT_EQ(platformDisplaySnapshot(path.c_str()), 0) << path;
    }
    // The last frame shown is also on the simulated board.
    screenStop(d);
    EXPECT_TRUE(std::filesystem::exists(root.file("/sim/screen.png")));
}

} // namespace
