// The names synchost gives: a file name shown in a line.
#include <gtest/gtest.h>
#include <report.h>

using namespace SyncHost;

TEST(SynchostNames, APrintedNameEscapesWhatIsNoTextAndWhatWouldBreakTheLine)
{
    const std::pair<QByteArray, const char*> names[] = {
        {"Documents/résumé.txt", "Documents/résumé.txt"},
        {"\xff\xfe.txt", "\\xff\\xfe.txt"},
        {"two\nlines", "two\\x0alines"},
        {"cut \xe2\x82", "cut \\xe2\\x82"},
        {"\xe2\x82\xac \xc0\xaf", "€ \\xc0\\xaf"},
    };
    for (const auto& [name, shown] : names)
        EXPECT_EQ(printableName(name).toStdString(), shown);
}
