// The button lockout and the security code change through the keys: a lock
// set behind the security code refusing the hold page until its time runs
// out, the lockout page's navigation, limits and store, and the code change.
#include "config/data_dict.h"
#include "config/persist.h"
#include "dispman/display_manager.h"
#include "graphics/buttons.h"
#include "menus/menu_engine.h"
#include "pages/button_lockout_menu.h"
#include "pages/config_sec_code_menu.h"
#include "pages/menu_pages.h"
#include "pages/pages.h"
#include "pages/user_pref_menu.h"

#include "ui_fixture.h"

#include <string>

namespace {

class ButtonLockoutTest : public UiTest {
  protected:
    std::string text(uint8_t position) const {
        return textOf(g_ButtonLockoutMenu[position].handle);
    }

    static TstatLockoutCfg_t lockout() { return memoryRecord().lockoutCfg; }
};

TEST_F(ButtonLockoutTest, ATemperatureLockBehindTheCodeLiftsAfterItsTime) {
    bootAndStart({.securityCode = 4321});
    // A wrong code leaves the way to the lockout page shut.
    enterCode(4322);
    EXPECT_EQ(dispManGetCurrentPage(), PAGE_SEC_CODE_INPUT);
    enterCode(4321);
    ASSERT_EQ(dispManGetCurrentPage(), PAGE_USER_PREF);
    keys("5D M 5D M 2D");
    ASSERT_EQ(getCurrentMenuIndex(), USER_PREF_BUTTON_LOCKOUT);
    mode();
    ASSERT_EQ(dispManGetCurrentPage(), PAGE_BUTTON_LOCKOUT);

    mode(2); // "Unlock" -> "Lock"
    EXPECT_EQ(text(LOCKOUT_BUTTON_LOCKOUT), "Lock");
    keys("D 2M"); // temperature lock "No" -> "Yes"
    EXPECT_EQ(text(LOCKOUT_TEMP_LOCK), "Yes");
    keys("D 3M"); // 2 minutes
    EXPECT_EQ(text(LOCKOUT_TEMP_TIME), "2 min");
    keys("D 10M"); // range 2 -> 10 -> 0: no set-point change at all
    EXPECT_EQ(text(LOCKOUT_TEMP_RANGE), "0 \xB0");
    keys("D M U"); // "More"; "Exit"
    ASSERT_EQ(getCurrentMenuIndex(), LOCKOUT_EXIT);
    mode();
    EXPECT_EQ(dispManGetCurrentPage(), PAGE_MAIN);
    TstatLockoutCfg_t saved = savedRecord().lockoutCfg;
    EXPECT_EQ(packed(saved.buttonLockout), LOCK_LOCKED);
    EXPECT_EQ(packed(saved.tempLock), LOCK_LOCKED);
    EXPECT_EQ(packed(saved.tempLockTimeLimit), 2);
    EXPECT_EQ(packed(saved.tempLockRangeLimit), 0);

    // The hold page refuses to open.
    up();
    EXPECT_EQ(dispManGetCurrentPage(), PAGE_MAIN);
    wait(119000);
    EXPECT_EQ(packed(lockout().tempLock), LOCK_LOCKED);
    wait(1500);
    EXPECT_EQ(packed(lockout().tempLock), LOCK_UNLOCKED);
    EXPECT_EQ(packed(lockout().tempLockTimeLimit), 0);
    keys("2U"); // leaves the screen saver
    EXPECT_EQ(dispManGetCurrentPage(), PAGE_HOLD);
}

TEST_F(ButtonLockoutTest, KeysWalkTheLabelsAndValuesWrap) {
    bootAndStart();
    editLockout([](TstatLockoutCfg_t &l) {
        l.tempLockRangeLimit = 10;
        l.fanLockTime = 60;
        l.modeLockTime = 5; // in memory only: "Exit" saves it with the rest
    });
    show(displayButtonLockoutPage);
    const struct {
        uint8_t from;
        uint16_t key;
        uint8_t to;
    } cases[] = {
        {LOCKOUT_BUTTON_LOCKOUT_LABEL, BUTTON_CODE_DOWN, LOCKOUT_TEMP_LOCK_LABEL},
        {LOCKOUT_TEMP_RANGE_LABEL, BUTTON_CODE_DOWN, LOCKOUT_MORE},
        {LOCKOUT_MORE, BUTTON_CODE_DOWN, LOCKOUT_BUTTON_LOCKOUT_LABEL},
        {LOCKOUT_BUTTON_LOCKOUT_LABEL, BUTTON_CODE_UP, LOCKOUT_MORE},
        {LOCKOUT_MORE, BUTTON_CODE_UP, LOCKOUT_TEMP_RANGE_LABEL},
        {LOCKOUT_EXIT, BUTTON_CODE_DOWN, LOCKOUT_FAN_LOCK_LABEL},
        {LOCKOUT_FAN_LOCK_LABEL, BUTTON_CODE_UP, LOCKOUT_EXIT},
        {LOCKOUT_EXIT, BUTTON_CODE_UP, LOCKOUT_MODE_TIME_LABEL},
        {LOCKOUT_MODE_TIME_LABEL, BUTTON_CODE_DOWN, LOCKOUT_EXIT},
    };
    for (const auto &c : cases) {
        setCurrentMenuPtr(g_ButtonLockoutMenu, c.from);
        tap(c.key);
        EXPECT_EQ(getCurrentMenuIndex(), c.to) << int(c.from) << " " << c.key;
    }
    // Range 10 -> 0; from the value Up returns to its label.
    setCurrentMenuPtr(g_ButtonLockoutMenu, LOCKOUT_TEMP_RANGE_LABEL);
    mode(2);
    EXPECT_EQ(text(LOCKOUT_TEMP_RANGE), "0 \xB0");
    up();
    EXPECT_EQ(getCurrentMenuIndex(), LOCKOUT_TEMP_RANGE_LABEL);
    // "More", then the fan lock time 60 -> 0, and out through "Exit".
    keys("D M");
    EXPECT_EQ(screen(), testScreenButtonLockoutCont);
    keys("D M");
    EXPECT_EQ(text(LOCKOUT_FAN_TIME), "60 min");
    mode();
    EXPECT_EQ(text(LOCKOUT_FAN_TIME), "0 min");
    down(3);
    ASSERT_EQ(getCurrentMenuIndex(), LOCKOUT_EXIT);
    mode();
    TstatLockoutCfg_t saved = savedRecord().lockoutCfg;
    EXPECT_EQ(packed(saved.tempLockRangeLimit), 0);
    EXPECT_EQ(packed(saved.fanLockTime), 0);
    EXPECT_EQ(packed(saved.modeLockTime), 5);
}

TEST_F(ButtonLockoutTest, TheCodeChangeStoresOnlyOnEnter) {
    bootAndStart({.securityCode = 305});
    show(displayUserPrefPage);
    setCurrentMenuPtr(g_UserPrefMenu, USER_PREF_SECURITY_CODE);
    mode();
    ASSERT_EQ(dispManGetCurrentPage(), PAGE_SEC_CODE_CONFIG);
    const char *const digits[] = {"0", "3", "0", "5"};
    for (uint8_t i = 0; i < SEC_CODE_DIGITS; i++) {
        EXPECT_EQ(textOf(g_ConfSecurityCodeMenu[i].handle), digits[i]);
    }
    const struct {
        bool enter;
        uint16_t stored;
    } cases[] = {{false, 305}, {true, 9315}};
    for (const auto &c : cases) {
        show(displayConfigSecCode);
        keys("D 2M U 2M"); // 0 -> 9; the second digit; the third; 0 -> 1; "Enter"
        if (!c.enter) {
            down(); // "Cancel"
        }
        mode();
        EXPECT_EQ(getSecurityCode(), c.stored);
        EXPECT_EQ(packed(savedRecord().securityCode), c.stored);
        // Back on the preferences' last screen, on "Change Security Code".
        EXPECT_EQ(screen(), testScreenUserPrefCont2);
        EXPECT_EQ(getCurrentMenuIndex(), USER_PREF_SECURITY_CODE);
        // Its button, the picture under its text, is the lit one.
        EXPECT_STREQ((g_UserPrefMenu[USER_PREF_SECURITY_CODE].handle - 1)->imageFile,
                     "./images/Setup/Setup-Button-Graphic-ON.png");
        EXPECT_STREQ((g_UserPrefMenu[USER_PREF_ADV_SETUP].handle - 1)->imageFile,
                     "./images/Setup/Setup-Button-Graphic-OFF.png");
    }
    // The code entry page now takes the new code.
    enterCode(9315);
    EXPECT_EQ(dispManGetCurrentPage(), PAGE_USER_PREF);
}

} // namespace
