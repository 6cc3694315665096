#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>

#include "platform/single_instance.h"

TEST(SingleInstanceWin32, SecondHolderIsRefusedUntilTheFirstLetsGo) {
    const std::string name = "Local\\caddora-test-" + std::to_string(GetCurrentProcessId());
    auto first = std::make_unique<SingleInstanceLock>(name);
    ASSERT_TRUE(first->TryAcquire());
    EXPECT_TRUE(first->Held());
    EXPECT_TRUE(first->TryAcquire()) << "asking again keeps it";

    SingleInstanceLock second(name);
    EXPECT_FALSE(second.TryAcquire());
    EXPECT_FALSE(second.Held());

    first.reset();
    EXPECT_TRUE(second.TryAcquire());
}
