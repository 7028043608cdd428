// Runs the built tessarn_stat on folders made here and compares its output line by line.
#include "process.h"
#include "scratch_folder.h"

#include <algorithm>
#include <tessarn/tessarn.h>

using namespace TessarnTest;
using Tessarn::PlaceHolderAttributes;
using States = Tessarn::Constants::States;
using PinStates = Tessarn::Constants::PinStates;

namespace {

const std::string valid = "\u2705";
const std::string invalid = "\u274C";

struct Outcome {
    int status = -1;
    std::vector<std::string> out;
    std::vector<std::string> err;
};

std::vector<std::string> linesOf(const std::string& text)
{
    std::istringstream in(text);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::string padded(std::string text, std::size_t width, bool right)
{
    const std::string fill(text.size() < width ? width - text.size() : 0, ' ');
    return right ? fill + text : text + fill;
}

std::string header()
{
    return padded("Path", 60, false) + " Valid " + padded("Size", 10, false) + " " +
           padded("ActualSize", 10, false) + " " + padded("State", 10, false) + " " +
           padded("PinState", 10, false) + " " + padded("Etag", 33, false) + " FileId";
}

// The name in 60 columns, the mark between two blanks in a field of four, then the numbers
// and words right-aligned in ten.
std::string row(const std::string& name, const std::string& mark, const std::string& size,
                const std::string& actual, const std::string& state, const std::string& pin,
                const std::string& etag = "", const std::string& fileId = "")
{
    return padded(name, 60, false) + "  " + mark + "  " + padded(size, 10, true) + " " +
           padded(actual, 10, true) + " " + padded(state, 10, true) + " " + padded(pin, 10, true) +
           " " + padded(etag, 33, false) + " " + fileId;
}

class StatTool : public ScratchFolder {
protected:
    static Outcome stat(const std::vector<std::string>& arguments)
    {
        std::vector<std::string> command{TESSARN_STAT_BINARY};
        command.insert(command.end(), arguments.begin(), arguments.end());
        const auto result = runProgram(command);
        return {result.status, linesOf(result.out), linesOf(result.err)};
    }

    static Outcome stat(const std::filesystem::path& path)
    {
        return stat(std::vector{path.native()});
    }

    // Rows come in the file system's order; the tests compare them as a set.
    static std::vector<std::string> sortedRows(const Outcome& outcome)
    {
        std::vector<std::string> rows(
            outcome.out.begin() + std::min<std::size_t>(2, outcome.out.size()), outcome.out.end());
        std::sort(rows.begin(), rows.end());
        return rows;
    }
};

std::string registrationLine(const std::filesystem::path& path, const std::string& rest)
{
    return "Tessarn Stat: '" + path.native() + "' " + rest;
}

TEST_F(StatTool, ListsTheRecordsOfARegisteredFolder)
{
    ASSERT_TRUE(Tessarn::Registration::registerFilesystem(folder, "client:1234"));
    writeFile(folder / "placeholder");
    writeRecord(folder / "placeholder",
                PlaceHolderAttributes::create(folder / "placeholder", "etag-1", "id-1", 1000));
    writeFile(folder / "plain", "hello");
    writeFile(folder / "hydrated", "content");
    writeRecord(folder / "hydrated",
                PlaceHolderAttributes(folder / "hydrated", "e2", "id2", 0, States::Hydrated,
                                      PinStates::Unspecified));
    writeFile(folder / "filled", "abc");
    writeRecord(folder / "filled",
                PlaceHolderAttributes::create(folder / "filled", "e3", "id3", 3));
    writeFile(folder / "odd");
    writeRecord(folder / "odd",
                PlaceHolderAttributes(folder / "odd", "e4", "id4", 9, static_cast<States>(7),
                                      static_cast<PinStates>(7)));
    writeFile(folder / "pinned");
    writeRecord(folder / "pinned", PlaceHolderAttributes(folder / "pinned", "e5", "id5", 0,
                                                         States::Hydrating, PinStates::Excluded));
    const auto names = folder / "counted";
    writeFile(names, "12345678");
    setRawAttribute(names, std::string(Tessarn::Constants::realSizeAttribute), "  12 bytes");
    // The mount answers how far a download has come.
    for (const auto& [name, progress] : {std::pair{"coming", "131072/1048576"},
                                         {"garbled", "half"}}) {
        writeFile(folder / name, "partial");
        writeRecord(folder / name, PlaceHolderAttributes(folder / name, "e6", "id6", 1048576,
                                                         States::Hydrating, PinStates::Inherited));
        setRawAttribute(folder / name, std::string(Tessarn::Constants::progressAttribute),
                        progress);
    }

    const auto result = stat(folder);
    EXPECT_EQ(result.status, 0);
    ASSERT_EQ(result.out.size(), 11u);
    EXPECT_EQ(result.out[0], registrationLine(folder, "Owner: 'client:1234' Tessarn Version: 0"));
    EXPECT_EQ(result.out[1], header());
    std::vector<std::string> expected = {
        row("placeholder", valid, "1000", "0", "dehydrated", "inherited", "etag-1", "id-1"),
        row("plain", invalid, "0", "5", "hydrated", "inherited"),
        row("hydrated", valid, "0", "7", "hydrated", "unspecified", "e2", "id2"),
        row("filled", invalid, "3", "3", "dehydrated", "inherited", "e3", "id3"),
        row("odd", valid, "9", "0", "", "", "e4", "id4"),
        row("pinned", valid, "0", "0", "hydrating", "excluded", "e5", "id5"),
        row("counted", invalid, "0", "12", "hydrated", "inherited"),
        row("coming", valid, "1048576", "7", "hydrating 12%", "inherited", "e6", "id6"),
        row("garbled", valid, "1048576", "7", "hydrating", "inherited", "e6", "id6"),
    };
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(sortedRows(result), expected);
    EXPECT_EQ(result.err, std::vector<std::string>());
}

TEST_F(StatTool, RowsKeepTheirColumns)
{
    writeFile(folder / "f");
    writeRecord(folder / "f", PlaceHolderAttributes::create(folder / "f", "e", "i", 1000));
    const auto result = stat(folder);
    ASSERT_EQ(result.out.size(), 3u);
    EXPECT_EQ(result.out[1].substr(0, 78), "Path" + std::string(56, ' ') + " Valid Size       ");
    const auto& line = result.out[2];
    EXPECT_EQ(line.substr(60, 2 + valid.size() + 2), "  " + valid + "  ") << "Valid field";
    EXPECT_EQ(line.substr(67, 11), "      1000 ") << "after 66 columns, one left of the header's";
}

TEST_F(StatTool, SingleFilePrintsItsRowAndFails)
{
    const auto file = folder / "one";
    writeFile(file);
    writeRecord(file, PlaceHolderAttributes::create(file, "abc", "42", 1000));
    const auto result = stat(file);
    EXPECT_EQ(result.status, 255);
    EXPECT_EQ(
        result.out,
        (std::vector{registrationLine(file, "(No registration info found)"), header(),
                     row("one", valid, "1000", "0", "dehydrated", "inherited", "abc", "42")}));
    EXPECT_EQ(result.err, std::vector<std::string>());
}

TEST_F(StatTool, EmptyFolderPrintsRegistrationAndHeaderOnly)
{
    const auto result = stat(folder);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out,
              (std::vector{registrationLine(folder, "(No registration info found)"), header()}));
    EXPECT_EQ(result.err, std::vector<std::string>());

    setRawAttribute(folder, std::string(Tessarn::Constants::registrationAttribute), Bytes());
    EXPECT_EQ(stat(folder).out.at(0), registrationLine(folder, "(Invalid path)"));
}

TEST_F(StatTool, LinkToAFolderListsTheFolder)
{
    const auto target = folder / "target";
    std::filesystem::create_directory(target);
    writeFile(target / "entry", "xy");
    const auto link = folder / "link";
    std::filesystem::create_symlink("target", link);
    const auto result = stat(link);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out,
              (std::vector{registrationLine(link, "(No registration info found)"), header(),
                           row("entry", invalid, "0", "2", "hydrated", "inherited")}));
}

TEST_F(StatTool, EntriesWithoutAKnownSizeGetAnEmptyColumn)
{
    std::filesystem::create_directory(folder / "sub");
    std::filesystem::create_symlink("sub", folder / "to-sub");
    writeFile(folder / "bad");
    writeRecord(folder / "bad", PlaceHolderAttributes::create(folder / "bad", "e", "i", 4));
    setRawAttribute(folder / "bad", std::string(Tessarn::Constants::realSizeAttribute), "many");
    const auto result = stat(folder);
    EXPECT_EQ(result.status, 0);
    std::vector<std::string> expected = {
        row("sub", invalid, "0", "", "hydrated", "inherited"),
        row("to-sub", invalid, "0", "", "hydrated", "inherited"),
        row("bad", invalid, "4", "", "dehydrated", "inherited", "e", "i")};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(sortedRows(result), expected);
    ASSERT_EQ(result.err.size(), 3u);
    for (const auto& name : {"sub", "to-sub", "bad"}) {
        EXPECT_EQ(std::count_if(result.err.begin(), result.err.end(),
                                [&](const auto& line) {
                                    return line.find((folder / name).native() + '"') !=
                                           std::string::npos;
                                }),
                  1)
            << name;
    }
}

TEST_F(StatTool, MalformedRecordsAreReportedAndTheListingGoesOn)
{
    setRawAttribute(folder, std::string(Tessarn::Constants::registrationAttribute), hex("82 A5"));
    writeFile(folder / "broken");
    setRawAttribute(folder / "broken", std::string(Tessarn::Constants::placeholderAttribute),
                    hex("93 01"));
    writeFile(folder / "fine");
    const auto result = stat(folder);
    EXPECT_EQ(result.status, 0);
    ASSERT_EQ(result.out.size(), 3u);
    EXPECT_EQ(result.out[0].rfind(registrationLine(folder, "([json.exception.parse_error.110]"), 0),
              0u)
        << result.out[0];
    EXPECT_EQ(result.out[2], row("fine", invalid, "0", "0", "hydrated", "inherited"));
    ASSERT_EQ(result.err.size(), 2u);
    EXPECT_NE(result.err[0].find("parse_error.110"), std::string::npos) << result.err[0];
    EXPECT_NE(result.err[1].find((folder / "broken").native()), std::string::npos);
    EXPECT_NE(result.err[1].find("parse_error.110"), std::string::npos) << result.err[1];
}

TEST_F(StatTool, MissingPathsDoNotExist)
{
    const auto missing = folder / "mis\"si\\ng";
    const auto quoted = '"' + folder.native() + "/mis\\\"si\\\\ng\"";
    auto result = stat(missing);
    EXPECT_EQ(result.status, 255);
    EXPECT_EQ(result.out, std::vector{quoted + " does not exist"});

    const auto dangling = folder / "dangling";
    std::filesystem::create_symlink("nowhere", dangling);
    result = stat(dangling);
    EXPECT_EQ(result.status, 255);
    EXPECT_EQ(result.out, std::vector{'"' + dangling.native() + "\" does not exist"});
    EXPECT_EQ(result.err, std::vector<std::string>());
}

TEST_F(StatTool, UnreadableStatusIsAnErrorNotAbsence)
{
    const auto loop = folder / "loop";
    std::filesystem::create_symlink("loop", loop);
    const auto result = stat(loop);
    EXPECT_EQ(result.status, 255);
    EXPECT_EQ(result.out, std::vector<std::string>());
    ASSERT_EQ(result.err.size(), 1u);
    EXPECT_NE(result.err[0].find(loop.native()), std::string::npos) << result.err[0];
}

TEST_F(StatTool, NeedsExactlyOneArgumentOrAsksForTheVersion)
{
    for (const auto& arguments :
         {std::vector<std::string>{}, std::vector{folder.native(), folder.native()}}) {
        const auto result = stat(arguments);
        EXPECT_EQ(result.status, 255);
        EXPECT_EQ(result.out, std::vector<std::string>());
        EXPECT_EQ(result.err, std::vector<std::string>());
    }
    for (const std::string version : {"-V", "--version"}) {
        const auto result = stat(std::vector{version});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, std::vector<std::string>{"tessarn_stat " TESSARN_VERSION_STRING});
    }
}

} // namespace
