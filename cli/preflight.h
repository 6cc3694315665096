#pragma once
// Checks made before a command touches anything: the files it reads and writes, and (for
// course data) whether the file can go anywhere. One call per command; each returns the
// refusal line, empty when the command may go on. Nothing here opens a file in a way that
// could block or connects to a device.
#include <CLI/CLI.hpp>
#include <string>

namespace cli {

std::string PreflightInfo(const std::string& file);
std::string PreflightUnpack(const std::string& input, const std::string& output);
std::string PreflightPack(const std::string& input, const std::string& output);
std::string PreflightWriteFirmware(const std::string& file);
std::string PreflightYmodem(const std::string& file);
std::string PreflightWriteCourse(const std::string& file);
std::string PreflightImportPoints(const std::string& out);

// CLI::ExistingFile for UTF-8 paths (CLI11's own reads them in the ANSI code page on Windows).
CLI::Validator ExistingFile();

}  // namespace cli
