#include "platform/usb_ids.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/utf8_paths.h"

namespace platform {

namespace {

std::optional<std::string> Variable(const char* name) {
    std::string value = EnvironmentText(name);
    return value.empty() ? std::nullopt : std::optional<std::string>(std::move(value));
}

std::optional<uint16_t> ParseHex16(std::string_view digits) {
    // Exactly four digits, as sysfs and udev write them, so a udev rule can match the text.
    if (digits.size() != 4) return std::nullopt;
    uint16_t value = 0;
    for (char c : digits) {
        int d;
        if (c >= '0' && c <= '9') {
            d = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            d = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            d = c - 'A' + 10;
        } else {
            return std::nullopt;
        }
        value = static_cast<uint16_t>(value * 16 + d);
    }
    return value;
}

std::optional<UsbId> ParseItem(std::string_view item) {
    const auto colon = item.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    const auto vendor = ParseHex16(item.substr(0, colon));
    const auto product = ParseHex16(item.substr(colon + 1));
    if (!vendor || !product) return std::nullopt;
    return UsbId{*vendor, *product};
}

bool IsSeparator(char c) {
    return c == ',' || c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::optional<std::string> ReadFile(const std::string& path) {
    std::ifstream in(PathFromUtf8(path), std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

std::string FormatUsbId(UsbId id) {
    char text[10];
    std::snprintf(text, sizeof text, "%04x:%04x", id.vendor, id.product);
    return text;
}

std::optional<std::vector<UsbId>> ParseUsbIds(std::string_view text, std::string* badItem) {
    std::vector<UsbId> ids;
    size_t at = 0;
    while (at < text.size()) {
        if (text[at] == '#') {
            at = text.find('\n', at);
            if (at == std::string_view::npos) break;
            continue;
        }
        if (IsSeparator(text[at])) {
            ++at;
            continue;
        }
        size_t end = at;
        while (end < text.size() && !IsSeparator(text[end]) && text[end] != '#') ++end;
        const std::string_view item = text.substr(at, end - at);
        const auto id = ParseItem(item);
        if (!id) {
            if (badItem) *badItem = std::string(item);
            return std::nullopt;
        }
        if (!ContainsUsbId(ids, *id)) ids.push_back(*id);
        at = end;
    }
    return ids;
}

bool ContainsUsbId(const std::vector<UsbId>& ids, UsbId id) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

ResolvedUsbIds ResolveUsbIds(const UsbIdSources& sources) {
    auto decide = [](std::string source, std::string_view text) {
        ResolvedUsbIds result;
        result.source = std::move(source);
        std::string bad;
        if (auto ids = ParseUsbIds(text, &bad)) {
            result.ids = std::move(*ids);
        } else {
            result.error = result.source + ": not a vendor:product id: \"" + bad + "\"";
        }
        return result;
    };
    if (sources.option) return decide("--usb-ids", *sources.option);
    if (sources.environment) return decide("CADDORA_USB_IDS", *sources.environment);
    for (const std::string& file : sources.files) {
        if (auto text = ReadFile(file)) return decide(file, *text);
    }
    return {};
}

std::vector<std::string> UsbIdFiles(const std::optional<std::string>& xdgConfigHome,
                                    const std::optional<std::string>& home) {
    std::vector<std::string> files;
    // An empty or relative XDG_CONFIG_HOME is to be ignored.
    if (xdgConfigHome && !xdgConfigHome->empty() && xdgConfigHome->front() == '/') {
        files.push_back(*xdgConfigHome + "/caddora/usb-ids");
    } else if (home && !home->empty()) {
        files.push_back(*home + "/.config/caddora/usb-ids");
    }
    files.push_back("/etc/caddora/usb-ids");
    return files;
}

ResolvedUsbIds ResolveUsbIdsSetting(const std::optional<std::string>& option) {
    UsbIdSources sources;
    sources.option = option;
    if (auto env = Variable("CADDORA_USB_IDS"); env && !env->empty()) sources.environment = env;
    sources.files = UsbIdFiles(Variable("XDG_CONFIG_HOME"), Variable("HOME"));
    return ResolveUsbIds(sources);
}

}  // namespace platform
