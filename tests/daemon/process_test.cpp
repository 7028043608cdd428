// The environment a child process gets.
#include "process.h"

#include <cstdlib>
#include <gtest/gtest.h>

using namespace TessarnTest;

// printenv looks the names up with getenv, which takes the first entry of a name.
TEST(ChildProcess, AGivenVariableReplacesAnInheritedOne)
{
    ::setenv("TESSARN_TEST_VARIABLE", "inherited", 1);
    ::setenv("TESSARN_TEST_KEPT", "kept", 1);
    const auto result = runProgram({"printenv", "TESSARN_TEST_VARIABLE", "TESSARN_TEST_KEPT"}, 10s,
                                   {"TESSARN_TEST_VARIABLE=given"});
    ::unsetenv("TESSARN_TEST_VARIABLE");
    ::unsetenv("TESSARN_TEST_KEPT");
    EXPECT_EQ(result.out, "given\nkept\n");
}
