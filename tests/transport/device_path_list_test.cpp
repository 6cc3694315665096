#include "transport/device_path_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using transport::SplitDevicePaths;

TEST(DevicePathList, SplitsKeepsOrderAndDropsWhatDoesNotFit) {
    const std::string longest(127, 'x');
    const std::string tooLong(128, 'y');
    const struct {
        std::string list;
        std::vector<std::string> paths;
    } cases[] = {
        {"", {}},
        {"\\\\.\\COM8", {"\\\\.\\COM8"}},
        {"a;b;c", {"a", "b", "c"}},
        {";a;;b;", {"a", "b"}},
        {tooLong + ";" + longest, {longest}},
        {"1;2;3;4;5;6;7;8;9;10;11;12;13;14",
         {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SplitDevicePaths(c.list, 12, 127), c.paths) << c.list;
    }
}
