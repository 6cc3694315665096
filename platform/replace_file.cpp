#include "platform/replace_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/output_file.h"

namespace platform {

bool ReplaceFile(const std::string& path, std::string_view bytes, std::string& error) {
    try {
        OutputFile out(path);
        if (std::fwrite(bytes.data(), 1, bytes.size(), out.Stream()) != bytes.size()) {
            throw StreamError("cannot write " + path + ": " + std::strerror(errno));
        }
        out.Commit();
        return true;
    } catch (const StreamError& e) {
        error = e.what();
        return false;
    }
}

}  // namespace platform
