#include <algorithm>
#include <vector>

#include "cli/commands.h"

namespace cli {

namespace {
struct Entry {
    int order;
    CommandAdder adder;
};

// A function-local list, so registrations from any file work whatever the initialisation order.
std::vector<Entry>& Registry() {
    static std::vector<Entry> entries;
    return entries;
}
}  // namespace

CommandRegistration::CommandRegistration(int order, CommandAdder adder) {
    Registry().push_back({order, adder});
}

void AddRegisteredCommands(CLI::App& app, CommandContext& ctx) {
    std::vector<Entry> entries = Registry();
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry& a, const Entry& b) { return a.order < b.order; });
    for (const Entry& e : entries) e.adder(app, ctx);
}

}  // namespace cli
