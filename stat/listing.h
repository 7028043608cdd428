// The lines of tessarn_stat: the registration, the table header and one row per file.
#pragma once

#include <filesystem>

namespace TessarnStat {

void printRegistration(const std::filesystem::path& path);
void printHeader();
void printRow(const std::filesystem::path& path);

} // namespace TessarnStat
