// Names the Windows build derives from paths and port names.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>

#include "app/course_file_table.h"
#include "platform/settings.h"
#include "platform/user_folders.h"
#include "platform/utf8_paths.h"
#include "transport/serial_link.h"

TEST(WindowsPaths, CourseFileNameTakesEitherSeparator) {
    const struct {
        const char* path;
        const char* name;
    } cases[] = {
        {"C:\\Users\\golfer\\Documents\\jis.bin", "jis.bin"},
        {"C:/data/index4.kzip", "index4.kzip"},
        {"\\\\server\\share\\dir/kx20x20.bin", "kx20x20.bin"},
        {"packed.k16", "packed.k16"},
    };
    for (const auto& c : cases) EXPECT_EQ(CourseFileName(c.path), c.name) << c.path;
}

TEST(WindowsPaths, LongPortNamesGetTheDeviceNamespacePrefix) {
    const struct {
        const char* name;
        const char* path;
    } cases[] = {
        {"COM3", "COM3"},
        {"COM12", "\\\\.\\COM12"},
        {"\\\\.\\COM8", "\\\\.\\COM8"},
    };
    for (const auto& c : cases) EXPECT_EQ(ComDevicePath(c.name), c.path) << c.name;
}

TEST(WindowsPaths, DevicePathsComeFromTheOptionThenTheEnvironmentElseTheDriver) {
    const struct {
        const char* env;  // "" removes the variable
        std::string option;
        std::string expected;
    } cases[] = {
        {"", "", ""},
        {"\\\\.\\COM8", "", "\\\\.\\COM8"},
        {"\\\\.\\COM8", "\\\\.\\COM3;\\\\.\\COM4", "\\\\.\\COM3;\\\\.\\COM4"},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(_putenv_s(platform::kDeviceDirVariable, c.env), 0);
        EXPECT_EQ(platform::ResolveSettings(c.option).deviceDir, c.expected) << c.env;
    }
    _putenv_s(platform::kDeviceDirVariable, "");
}

TEST(WindowsPaths, OutputGoesToDocumentsWhenThePreferredFolderIsNotWritable) {
    const std::string temp = std::filesystem::temp_directory_path().string();
    const std::string documents = platform::DocumentsFolder();
    ASSERT_FALSE(documents.empty());
    EXPECT_TRUE(platform::FolderWritable(temp));
    EXPECT_FALSE(platform::FolderWritable(temp + "\\no-such-folder-caddora"));
    EXPECT_EQ(platform::OutputFolder(temp), temp);
    EXPECT_EQ(platform::OutputFolder("Z:\\no-such-folder-caddora"), documents);

    // The probe that tells a writable folder leaves nothing behind.
    const auto fresh = std::filesystem::temp_directory_path() /
                       ("caddora-probe-test-" + std::to_string(GetCurrentProcessId()));
    std::filesystem::create_directory(fresh);
    EXPECT_TRUE(platform::FolderWritable(fresh.string()));
    EXPECT_TRUE(std::filesystem::is_empty(fresh));
    std::filesystem::remove_all(fresh);
}

// Folders and settings come from the wide environment, as UTF-8 whatever the ANSI code page.
TEST(WindowsPaths, EnvironmentValuesComeAsUtf8) {
    ASSERT_TRUE(SetEnvironmentVariableW(L"CADDORA_TEST_FOLDER", L"C:\\Users\\\u5C71\u7530"));
    EXPECT_EQ(platform::EnvironmentText("CADDORA_TEST_FOLDER"),
              "C:\\Users\\\xE5\xB1\xB1\xE7\x94\xB0");
    SetEnvironmentVariableW(L"CADDORA_TEST_FOLDER", nullptr);
    EXPECT_EQ(platform::EnvironmentText("CADDORA_TEST_FOLDER"), "");
}
