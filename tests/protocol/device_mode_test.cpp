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

    const struct {
        NavigatorMode mode;
        std::string name, key;
    } names[] = {
        {NavigatorMode::BootLoader, "boot loader", "boot"},
        {NavigatorMode::PatchProgram, "patch program", "patch"},
        {NavigatorMode::NormalFirmware, "normal firmware", "normal"},
        {NavigatorMode::NotAnswering, "not answering", "silent"},
        {NavigatorMode::CannotOpen, "cannot open", "busy"},
    };
    for (const auto& n : names) {
        EXPECT_EQ(NavigatorModeName(n.mode), n.name);
        EXPECT_EQ(NavigatorModeKey(n.mode), n.key);
    }
}
