#include <gtest/gtest.h>

#include "protocol/device_mode.h"

TEST(DeviceModes, TheVersionTextTellsTheMode) {
    EXPECT_EQ(ModeOfVersionText(std::nullopt), NavigatorMode::NotAnswering);
    EXPECT_EQ(ModeOfVersionText("MDL4200 BOOT V2.10"), NavigatorMode::BootLoader);
    EXPECT_EQ(ModeOfVersionText("boot"), NavigatorMode::BootLoader);
    EXPECT_EQ(ModeOfVersionText("Boot"), NavigatorMode::NormalFirmware);
    EXPECT_EQ(ModeOfVersionText("MDL4200 E3 PATCH V1.02"), NavigatorMode::PatchProgram);
    EXPECT_EQ(ModeOfVersionText("BOOT E3"), NavigatorMode::PatchProgram);
    EXPECT_EQ(ModeOfVersionText(""), NavigatorMode::NormalFirmware);
}
