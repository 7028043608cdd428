#include "result_table.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fmt/format.h>
#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace TessarnBench {

namespace {

// Quoted only when it has to be, as RFC 4180 says, so that gnuplot and spreadsheets read it.
std::string csvField(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c;
        if (c == '"')
            quoted += '"';
    }
    return quoted + '"';
}

// Names and words line up on the left, numbers on the right, so that their digits line up.
bool holdsText(const std::vector<std::vector<std::string>>& rows, std::size_t column)
{
    return std::any_of(rows.begin() + 1, rows.end(), [&](const auto& row) {
        const auto& text = row[column];
        return !text.empty() && std::isalpha(static_cast<unsigned char>(text[0])) && text != "n/a";
    });
}

} // namespace

ResultTable::ResultTable(std::string name, std::string caption, std::vector<std::string> columns)
    : m_name(std::move(name)), m_caption(std::move(caption)), m_rows{std::move(columns)}
{
}

void ResultTable::addRow(std::vector<std::string> cells)
{
    if (cells.size() != m_rows.front().size())
        throw std::logic_error(fmt::format("table {}: a row of {} cells under {} columns", m_name,
                                           cells.size(), m_rows.front().size()));
    m_rows.push_back(std::move(cells));
}

std::string ResultTable::text() const
{
    std::vector<std::size_t> widths(m_rows.front().size(), 0);
    for (const auto& row : m_rows) {
        for (std::size_t column = 0; column < row.size(); ++column)
            widths[column] = std::max(widths[column], row[column].size());
    }
    std::string text = m_caption.empty() ? "" : m_caption + "\n";
    for (const auto& row : m_rows) {
        std::string line;
        for (std::size_t column = 0; column < row.size(); ++column) {
            line += column == 0 ? "" : "  ";
            line += holdsText(m_rows, column) ? fmt::format("{:<{}}", row[column], widths[column])
                                              : fmt::format("{:>{}}", row[column], widths[column]);
        }
        text += line.substr(0, line.find_last_not_of(' ') + 1) + '\n';
    }
    return text;
}

std::string ResultTable::csv() const
{
    std::string csv;
    for (const auto& row : m_rows) {
        for (std::size_t column = 0; column < row.size(); ++column)
            csv += (column == 0 ? "" : ",") + csvField(row[column]);
        csv += '\n';
    }
    return csv;
}

void ResultTable::report() const
{
    fmt::print("{}", text());
    std::fflush(stdout);
    const char* folder = std::getenv("TESSARN_BENCH_CSV");
    if (!folder || !*folder)
        return;
    fs::create_directories(folder);
    const auto file = fs::path(folder) / (m_name + ".csv");
    std::ofstream out(file);
    out << csv();
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + file.string());
}

std::string cell(double value, int precision)
{
    return std::isnan(value) ? "n/a" : fmt::format("{:.{}f}", value, precision);
}

} // namespace TessarnBench
