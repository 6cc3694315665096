// The shipped udev rule grants access to exactly the ids the tool reads from the same file, and
// the per-user rule lists the given ids.
#include "transport/usb_udev_rule.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/scratch_dir.h"

namespace {

using platform::UsbId;

using testsupport::Slurp;

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

// The PROGRAM command of the shipped rule, split as udev splits it (spaces; single quotes keep
// an argument together), with the device's attributes and the ids file filled in.
std::vector<std::string> ProgramFor(const std::string& rule, UsbId id, const std::string& file) {
    const std::string key = "PROGRAM=\"";
    const size_t begin = rule.find(key);
    if (begin == std::string::npos) return {};
    const size_t end = rule.find("\", ", begin + key.size());
    std::string command = rule.substr(begin + key.size(), end - begin - key.size());
    const std::string both = platform::FormatUsbId(id);
    ReplaceAll(command, "%s{idVendor}", both.substr(0, 4));
    ReplaceAll(command, "%s{idProduct}", both.substr(5));
    ReplaceAll(command, "$$", "$");
    ReplaceAll(command, "/etc/caddora/usb-ids", file);
    std::vector<std::string> args;
    std::string current;
    bool quoted = false;
    for (char c : command) {
        if (c == '\'') {
            quoted = !quoted;
        } else if (c == ' ' && !quoted) {
            if (!current.empty()) args.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) args.push_back(current);
    return args;
}

bool Matches(const std::vector<std::string>& args) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(ShippedUdevRule, GrantsExactlyTheIdsTheToolReadsFromTheSystemFile) {
    const std::string rule =
        Slurp(std::string(CADDORA_TEST_SOURCE_DIR) + "/packaging/udev/70-caddora-navigator.rules");
    ASSERT_NE(rule.find("TAG+=\"uaccess\""), std::string::npos);
    const testsupport::ScratchDir dir("rule");
    const std::string file = dir / "usb-ids";

    const char* files[] = {
        "c0de:4200\n",
        "C0DE:4200\n",
        "1234:5678,c0de:4200",
        "  1234:5678 \t c0de:4200  # two\n",
        "# c0de:4200\n1234:5678\n",
        "1234:5678 # c0de:4200\n",
        "1c0de:4200 c0de:42001\n",
        "",
    };
    const UsbId probes[] = {{0xC0DE, 0x4200}, {0x1234, 0x5678}, {0xC0DE, 0x4201}};
    for (const char* text : files) {
        std::ofstream(file) << text;
        std::string bad;
        const auto ids = platform::ParseUsbIds(text, &bad);
        for (const UsbId& id : probes) {
            const auto args = ProgramFor(rule, id, file);
            ASSERT_FALSE(args.empty());
            const bool toolUsesIt = ids && platform::ContainsUsbId(*ids, id);
            EXPECT_EQ(Matches(args), toolUsesIt)
                << platform::FormatUsbId(id) << " in \"" << text << "\"";
        }
    }
    // No file, no access.
    std::filesystem::remove(file);
    EXPECT_FALSE(Matches(ProgramFor(rule, {0xC0DE, 0x4200}, file)));
}

TEST(UserUdevRule, OneUaccessLinePerId) {
    const std::string text = transport::UdevRuleText({{0xC0DE, 0x4200}, {0x0A0B, 0x00FF}});
    EXPECT_NE(text.find("SUBSYSTEM==\"usb\", ENV{DEVTYPE}==\"usb_device\", "
                        "ATTR{idVendor}==\"c0de\", ATTR{idProduct}==\"4200\", TAG+=\"uaccess\"\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("ATTR{idVendor}==\"0a0b\", ATTR{idProduct}==\"00ff\""), std::string::npos);
    size_t rules = 0;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line[0] != '#') ++rules;
    }
    EXPECT_EQ(rules, 2u);
}

}  // namespace
