#include "platform/user_folders.h"

namespace platform {

std::string OutputFolder(const std::string& preferred) {
    if (FolderWritable(preferred)) return preferred;
    std::string documents = DocumentsFolder();
    return documents.empty() ? preferred : documents;
}

std::optional<std::string> ParseUserDir(std::string_view fileText, std::string_view key,
                                        const std::string& home) {
    std::optional<std::string> found;
    while (!fileText.empty()) {
        const size_t end = fileText.find('\n');
        std::string_view line = fileText.substr(0, end);
        fileText = end == std::string_view::npos ? std::string_view{} : fileText.substr(end + 1);
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        if (!line.starts_with(key) || line.substr(key.size()).find("=\"") != 0) continue;
        line.remove_prefix(key.size() + 2);
        // The value is double-quoted, with backslash escapes; $HOME only at its start.
        std::string value;
        bool closed = false;
        for (size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '"') {
                closed = true;
                break;
            }
            if (line[i] == '\\' && i + 1 < line.size()) ++i;
            value += line[i];
        }
        if (!closed) continue;
        if (value.starts_with("$HOME")) {
            const std::string_view rest = std::string_view(value).substr(5);
            if (!rest.empty() && rest.front() != '/') continue;
            value = home + std::string(rest);
        } else if (!value.starts_with('/')) {
            continue;
        }
        found = std::move(value);  // a later line overrides an earlier one, as in the shell
    }
    return found;
}

}  // namespace platform
