// A benchmark's result in two forms: aligned columns under a caption for people, on standard
// output, and CSV for charts, written as NAME.csv into the folder that the environment variable
// TESSARN_BENCH_CSV names (created when missing; nothing is written without it).
#pragma once

#include <string>
#include <vector>

namespace TessarnBench {

class ResultTable {
public:
    ResultTable(std::string name, std::string caption, std::vector<std::string> columns);

    // One cell for each column: a row out of step would put numbers under the wrong name.
    void addRow(std::vector<std::string> cells);

    // The caption, the column names and the rows: a column of words flush left, one of numbers
    // flush right, so that their digits line up.
    std::string text() const;
    std::string csv() const;
    // Prints the text and, when TESSARN_BENCH_CSV is set, writes the CSV; throws when it cannot.
    void report() const;

private:
    std::string m_name;
    std::string m_caption;
    std::vector<std::vector<std::string>> m_rows; // the column names first
};

// A measured number with that many decimals, or "n/a" when it was not measured.
std::string cell(double value, int precision);

} // namespace TessarnBench
