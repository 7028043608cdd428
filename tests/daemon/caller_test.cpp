// Caller identification against real processes and threads, and the configuration file.
#include "ondemand/caller_filter.h"
#include "fuse/caller.h"
#include "test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <future>
#include <sys/wait.h>
#include <thread>
#include <tuple>
#include <unistd.h>

using namespace TessarnFuse;
using namespace TessarnTest;
namespace fs = std::filesystem;

namespace {

TEST(ProcessName, IsTheExecutablePathOfTheCaller)
{
    EXPECT_EQ(processName(::getpid()), fs::read_symlink("/proc/self/exe").string());
    EXPECT_EQ(processName(0), "pid: 0");

    testing::internal::CaptureStderr();
    // Far beyond any pid_max, so no process can have it.
    EXPECT_EQ(processName(999999999), "unknown: pid: 999999999");
    EXPECT_THAT(testing::internal::GetCapturedStderr(),
                testing::StartsWith("Failed to locate process name for: 999999999 error: "));
}

TEST(IsDesktopClient, RecognisesTheClientAndItsThreadsOnly)
{
    EXPECT_FALSE(isDesktopClient(0, ::getpid())) << "no client pid known yet";

    const auto client = ::getpid();
    EXPECT_TRUE(isDesktopClient(client, ::getpid()));
    EXPECT_FALSE(isDesktopClient(client, 0));
    EXPECT_FALSE(isDesktopClient(client, -1));

    std::promise<pid_t> threadId;
    std::promise<void> done;
    std::thread clientThread([&] {
        threadId.set_value(::gettid());
        done.get_future().wait();
    });
    const auto thread = threadId.get_future().get();
    EXPECT_NE(thread, ::getpid());
    EXPECT_TRUE(isDesktopClient(client, thread));
    done.set_value();
    clientThread.join();

    const pid_t other = ::fork();
    if (other == 0) {
        ::pause();
        ::_exit(0);
    }
    EXPECT_FALSE(isDesktopClient(client, other));
    ::kill(other, SIGKILL);
    ::waitpid(other, nullptr, 0);

    EXPECT_FALSE(isDesktopClient(-5, -5));
}

TEST(IsIgnoredApp, MatchesExactPathsAndSuffixes)
{
    const FilterLists filters{{"/usr/bin/indexer"}, {"-thumbnailer", "tracker"}};
    EXPECT_TRUE(isIgnoredApp("/usr/bin/indexer", filters));
    EXPECT_FALSE(isIgnoredApp("/usr/local/bin/indexer", filters));
    EXPECT_TRUE(isIgnoredApp("/usr/bin/gnome-thumbnailer", filters));
    EXPECT_TRUE(isIgnoredApp("/usr/libexec/tracker", filters));
    EXPECT_FALSE(isIgnoredApp("tracke", filters)) << "a suffix longer than the name";
    EXPECT_FALSE(isIgnoredApp("/usr/bin/cat", filters));
    EXPECT_FALSE(isIgnoredApp("/usr/bin/cat", FilterLists{}));

    const FilterLists suffixOnly{{}, {"indexer"}};
    EXPECT_TRUE(isIgnoredApp("/usr/bin/indexer", suffixOnly));
    EXPECT_TRUE(isIgnoredApp("/usr/local/bin/indexer", suffixOnly));
    EXPECT_TRUE(isIgnoredApp("/usr/bin/cat", FilterLists{{}, {""}})) << "an empty suffix";
}

class ConfigFileTest : public testing::Test {
protected:
    std::string write(std::string_view content)
    {
        const auto file = dir.path() / "config.json";
        writeFile(file, content);
        return file.string();
    }

    std::string errorOf(const std::string& file)
    {
        try {
            loadConfiguration(file);
        } catch (const ConfigError& e) {
            return e.what();
        }
        return "no error";
    }

    TempDir dir;
};

TEST_F(ConfigFileTest, LoadsBothListsInFileOrderAndTheTimeouts)
{
    const auto loaded = loadConfiguration(write(R"({"other": 1, "ignoreApps": {
        "byName": ["/usr/bin/indexer", "/usr/bin/b"], "endsWith": ["-thumbnailer"]},
        "hydrationTimeout": 0, "cacheTimeout": 0, "streamFrom": 0})"));
    EXPECT_EQ(loaded.filters.byName, (std::vector<std::string>{"/usr/bin/indexer", "/usr/bin/b"}));
    EXPECT_EQ(loaded.filters.endsWith, std::vector<std::string>{"-thumbnailer"});
    EXPECT_EQ(loaded.hydrationTimeout, std::chrono::seconds(0)) << "0: no limit";
    EXPECT_EQ(loaded.cacheTimeout, std::chrono::seconds(0)) << "0: no caching";
    EXPECT_EQ(loaded.streamFrom, 0u) << "0: no streaming";

    const auto empty = loadConfiguration(write(R"({"ignoreApps":{"byName":[],"endsWith":[]}})"));
    EXPECT_TRUE(empty.filters.byName.empty());
    EXPECT_TRUE(empty.filters.endsWith.empty());
    EXPECT_EQ(empty.hydrationTimeout, std::chrono::seconds(300)) << "the default";
    EXPECT_EQ(empty.cacheTimeout, std::chrono::seconds(3600)) << "the default";
    EXPECT_EQ(empty.streamFrom, 8u << 20) << "the default";
}

TEST_F(ConfigFileTest, ErrorsNameTheFileAndTheProblem)
{
    const auto missing = (dir.path() / "missing.json").string();
    EXPECT_EQ(errorOf(missing), "Cannot open the configuration file \"" + missing +
                                    "\": No such file or directory");
    EXPECT_THAT(errorOf(""), testing::StartsWith("Cannot open the configuration file \"\""));

    const auto notJson = write(R"({"ignoreApps": {"byName": [], "endsWith": []}} // note)");
    EXPECT_THAT(errorOf(notJson),
                testing::StartsWith("The configuration file \"" + notJson + "\" is not valid JSON"));
    EXPECT_THAT(errorOf(write(R"({"ignoreApps": {"byName": []}})")),
                testing::HasSubstr("has no array of strings \"ignoreApps\"/\"endsWith\""));
    EXPECT_THAT(errorOf(write(R"({"byName": [], "endsWith": []})")),
                testing::HasSubstr("\"ignoreApps\"/\"byName\""));
    EXPECT_THAT(errorOf(write(R"({"ignoreApps": {"byName": [1], "endsWith": []}})")),
                testing::HasSubstr("\"ignoreApps\"/\"byName\""));
    EXPECT_THAT(errorOf(write(R"({"ignoreApps": {"byName": [], "endsWith": "x"}})")),
                testing::HasSubstr("\"ignoreApps\"/\"endsWith\""));
    const std::vector<std::tuple<std::string, std::string, std::string>> numbers{
        {"hydrationTimeout", "seconds", "4294967296"},
        {"cacheTimeout", "seconds", "4294967296"},
        {"streamFrom", "bytes", "9223372036854775808"}};
    for (const auto& [key, units, tooLarge] : numbers) {
        for (const std::string value : {"-1", "1.5", "\"300\"", "true", "null", tooLarge.c_str()}) {
            const auto file = write(R"({"ignoreApps": {"byName": [], "endsWith": []}, ")" + key +
                                    "\": " + value + "}");
            EXPECT_THAT(errorOf(file), testing::HasSubstr("has a \"" + key +
                                                          "\" that is not a whole number of " +
                                                          units + ": "))
                << key << " " << value;
        }
    }
}

} // namespace
