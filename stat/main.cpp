// tessarn_stat PATH (or -V): the registration of PATH and the placeholder records of the file
// or of the directory's entries, as a table.
#include "listing.h"

#include <filesystem>
#include <iomanip>
#include <iostream>
#include <string_view>
#include <tessarn/tessarn.h>

namespace fs = std::filesystem;

namespace {

constexpr int failureStatus = 255;

// The type as lstat reports it, unless that is a link or unknown: then the target's.
fs::file_status statusOf(const fs::path& path, std::error_code& error)
{
    const auto own = fs::symlink_status(path, error);
    if (own.type() != fs::file_type::none && own.type() != fs::file_type::symlink)
        return own;
    return fs::status(path, error);
}

int listDirectory(const fs::path& path)
{
    std::error_code error;
    fs::directory_iterator entries(path, error);
    for (; !error && entries != fs::directory_iterator(); entries.increment(error))
        TessarnStat::printRow(entries->path());
    if (error) {
        std::cerr << "Cannot read the directory " << path << ": " << error.message() << std::endl;
        return failureStatus;
    }
    return 0;
}

int run(const fs::path& path)
{
    std::error_code error;
    const auto status = statusOf(path, error);
    if (status.type() == fs::file_type::not_found) {
        std::cout << std::quoted(path.native()) << " does not exist" << std::endl;
        return failureStatus;
    }
    if (status.type() == fs::file_type::none) {
        std::cerr << "Cannot read the status of " << path << ": " << error.message() << std::endl;
        return failureStatus;
    }

    TessarnStat::printRegistration(path);
    TessarnStat::printHeader();
    if (fs::is_directory(status))
        return listDirectory(path);
    TessarnStat::printRow(path);
    return failureStatus;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
        return failureStatus;
    // A file of that name is still reached as ./-V.
    if (const std::string_view argument = argv[1]; argument == "-V" || argument == "--version") {
        std::cout << "tessarn_stat " TESSARN_VERSION_STRING << std::endl;
        return 0;
    }
    try {
        return run(argv[1]);
    } catch (const std::exception& e) {
        std::cerr << "tessarn_stat: " << e.what() << std::endl;
    } catch (...) {
        std::cerr << "tessarn_stat: unexpected failure" << std::endl;
    }
    return failureStatus;
}
