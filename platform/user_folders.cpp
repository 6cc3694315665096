#include "platform/user_folders.h"

namespace platform {

std::string OutputFolder(const std::string& preferred) {
    if (FolderWritable(preferred)) return preferred;
    std::string documents = DocumentsFolder();
    return documents.empty() ? preferred : documents;
}

}  // namespace platform
