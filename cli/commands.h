#pragma once
// Command groups of caddora-cli. Each group lives in a file of its own, adds its subcommands to
// the application and registers itself with a CommandRegistration, so the entry point never
// changes when a group is added:
//
//     void AddPackCommands(CLI::App& app, CommandContext& ctx) { ... }
//     static const cli::CommandRegistration kPack(cli::kOrderPack, AddPackCommands);
#include <CLI/CLI.hpp>

#include <iostream>
#include <string>

#include "transfer/device_image_setup.h"

namespace cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// What a command needs from the program around it, and how it hands back its result.
struct CommandContext {
    std::ostream* out = &std::cout;  // results for the user or a script
    std::ostream* err = &std::cerr;  // failures and progress
    int exitCode = kExitOk;
    // Where device images are looked for, read by the entry point.
    DeviceImageSetup images;

    // One clear line on stderr and exit status 1.
    void Fail(const std::string& command, const std::string& message) {
        *err << "caddora-cli " << command << ": " << message << '\n';
        exitCode = kExitFailure;
    }
};

using CommandAdder = void (*)(CLI::App&, CommandContext&);

// Registers a group at static initialisation; groups appear in --help by ascending order.
struct CommandRegistration {
    CommandRegistration(int order, CommandAdder adder);
};

// Places in --help.
inline constexpr int kOrderDevices = 100;
inline constexpr int kOrderJobs = 200;
inline constexpr int kOrderPack = 300;
inline constexpr int kOrderYmodem = 400;
inline constexpr int kOrderConvert = 500;
inline constexpr int kOrderLogbook = 550;
inline constexpr int kOrderUdevRule = 600;
inline constexpr int kOrderReplay = 650;
// After every device command: adds --log and --trace to them.
inline constexpr int kOrderSessionLog = 900;

// Adds every registered group to the application.
void AddRegisteredCommands(CLI::App& app, CommandContext& ctx);

void AddPackCommands(CLI::App& app, CommandContext& ctx);

}  // namespace cli
