#include "result_table.h"
#include "statistics.h"
#include "test_support.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sstream>
#include <stdexcept>

using namespace TessarnBench;

namespace {

ResultTable sample()
{
    ResultTable table("sample", "a caption", {"workload", "plain", "tessarn/plain"});
    table.addRow({"seq read MiB/s", "26159.4", "0.06"});
    table.addRow({"git add, commit", "5.1", "n/a"});
    table.addRow({"say \"hi\"", "12.0", "1.00"});
    return table;
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    return lines;
}

} // namespace

TEST(ResultTable, TextAlignsWordsLeftAndNumbersRightUnderTheirNames)
{
    const auto text = lines(sample().text());
    ASSERT_EQ(text.size(), 5u);
    EXPECT_EQ(text[0], "a caption");
    EXPECT_EQ(text[1], "workload           plain  tessarn/plain");
    EXPECT_EQ(text[2], "seq read MiB/s   26159.4           0.06");
    EXPECT_EQ(text[3], "git add, commit      5.1            n/a");

    ResultTable numbersFirst("t", "", {"opens", "mode", "median"});
    numbersFirst.addRow({"1", "sequential", "0.388"});
    numbersFirst.addRow({"1000", "concurrent", "n/a"});
    EXPECT_EQ(numbersFirst.text(), "opens  mode        median\n"
                                   "    1  sequential   0.388\n"
                                   " 1000  concurrent     n/a\n");
}

TEST(ResultTable, CsvQuotesOnlyTheCellsThatNeedIt)
{
    EXPECT_EQ(sample().csv(), "workload,plain,tessarn/plain\n"
                              "seq read MiB/s,26159.4,0.06\n"
                              "\"git add, commit\",5.1,n/a\n"
                              "\"say \"\"hi\"\"\",12.0,1.00\n");
}

TEST(ResultTable, RefusesARowOutOfStepWithTheColumns)
{
    ResultTable table("t", "", {"a", "b"});
    EXPECT_THROW(table.addRow({"1"}), std::logic_error);
    EXPECT_THROW(table.addRow({"1", "2", "3"}), std::logic_error);
    EXPECT_EQ(table.text(), "a  b\n");
}

TEST(ResultTable, ReportWritesCsvOnlyIntoTheFolderTheVariableNames)
{
    const TessarnTest::TempDir scratch;
    const auto folder = scratch.path() / "new" / "csv";
    ::unsetenv("TESSARN_BENCH_CSV");
    sample().report();
    ::setenv("TESSARN_BENCH_CSV", folder.c_str(), 1);
    sample().report();
    ::unsetenv("TESSARN_BENCH_CSV");
    EXPECT_EQ(TessarnTest::readFile(folder / "sample.csv"), sample().csv());

    ::setenv("TESSARN_BENCH_CSV", (scratch.path() / "new" / "csv" / "sample.csv").c_str(), 1);
    EXPECT_ANY_THROW(sample().report()) << "a file where the folder should be";
    ::unsetenv("TESSARN_BENCH_CSV");
}

TEST(ResultTable, CellsShowWhatWasNotMeasured)
{
    EXPECT_EQ(cell(0.1234, 2), "0.12");
    EXPECT_EQ(cell(1661.46, 1), "1661.5");
    EXPECT_EQ(cell(notMeasured, 3), "n/a");
    EXPECT_EQ(cell(1.0 / notMeasured, 2), "n/a") << "a ratio to a missing peer";
}
