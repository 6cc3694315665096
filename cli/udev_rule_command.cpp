// udev-rule: prints a udev rule that lets the logged-in user open the USB navigators with the
// configured ids. The shipped rule covers the ids of /etc/caddora/usb-ids; this one is for ids
// configured elsewhere (--usb-ids, CADDORA_USB_IDS, the user's file).
#include <memory>
#include <optional>
#include <string>

#include "cli/commands.h"
#include "cli/usb_ids_option.h"
#include "transport/usb_udev_rule.h"

namespace cli {

namespace {

void AddUdevRuleCommand(CLI::App& app, CommandContext& ctx) {
    auto ids = std::make_shared<std::optional<std::string>>();
    CLI::App* cmd = app.add_subcommand(
        "udev-rule",
        "Print a udev rule that gives the logged-in user access to the USB navigators with the "
        "configured vendor:product ids.");
    AddUsbIdsOption(cmd, *ids);
    cmd->footer(
        "Example:\n  caddora-cli udev-rule --usb-ids 1234:5678 | sudo tee "
        "/etc/udev/rules.d/70-caddora-local.rules");
    cmd->callback([ids, &ctx] {
        const auto resolved = platform::ResolveUsbIdsSetting(*ids);
        if (!resolved.error.empty()) return ctx.Fail("udev-rule", resolved.error);
        if (resolved.ids.empty()) {
            return ctx.Fail("udev-rule",
                            "no USB ids configured; give --usb-ids VVVV:PPPP (lsusb shows them) or "
                            "set CADDORA_USB_IDS");
        }
        *ctx.out << transport::UdevRuleText(resolved.ids);
    });
}

}  // namespace

static const CommandRegistration kUdevRule(kOrderUdevRule, AddUdevRuleCommand);

}  // namespace cli
