// The names synchost gives: a conflict copy's, and a file name shown in a line.
#include <conflict_copy.h>
#include <gtest/gtest.h>
#include <report.h>

using namespace SyncHost;

TEST(SynchostNames, AConflictCopyKeepsTheLastSuffixAfterTheDateAndTime)
{
    const QDateTime when(QDate(2026, 12, 10), QTime(10, 15, 30));
    const std::pair<const char*, const char*> names[] = {
        {"Documents/a.txt", "Documents/a (conflicted copy 2026-12-10 101530).txt"},
        {"archive.tar.gz", "archive.tar (conflicted copy 2026-12-10 101530).gz"},
        {"README", "README (conflicted copy 2026-12-10 101530)"},
        {"home/.bashrc", "home/.bashrc (conflicted copy 2026-12-10 101530)"},
        {"v1.2/notes", "v1.2/notes (conflicted copy 2026-12-10 101530)"},
        {"ends with a dot.", "ends with a dot. (conflicted copy 2026-12-10 101530)"},
    };
    for (const auto& [name, copy] : names)
        EXPECT_EQ(conflictCopyName(QString::fromUtf8(name), when).toStdString(), copy);
}

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
