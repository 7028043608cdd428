#include <preparation.h>

#include <gtest/gtest.h>

using namespace VDK;

TEST(MountInfo, EscapesAreDecodedToBytes)
{
    EXPECT_EQ(decodeMountInfoField("/home/u/My\\040Sync"), "/home/u/My Sync");
    EXPECT_EQ(decodeMountInfoField("a\\011b\\012c\\134d"), "a\tb\nc\\d");
    EXPECT_EQ(decodeMountInfoField("/caf\\303\\251"), "/caf\xc3\xa9");
    EXPECT_EQ(decodeMountInfoField("/plain"), "/plain");
    // A backslash without three octal digits after it is not an escape; it must not read
    // past the end of the field.
    EXPECT_EQ(decodeMountInfoField("/end\\04"), "/end\\04");
    EXPECT_EQ(decodeMountInfoField("/x\\9zz"), "/x\\9zz");
}

TEST(MountInfo, TessarnMountsAreFoundWhateverTheNumberOfOptionalFields)
{
    const QByteArray mountInfo =
        "21 26 0:20 / /proc rw,relatime - proc proc rw\n"
        "44 26 0:39 / /tmp/a\\040b rw,nosuid - fuse.tessarn /src rw,user_id=0\n"
        "45 26 0:40 / /one rw shared:7 - fuse.tessarn tessarn rw\n"
        "46 26 0:41 / /two rw shared:7 master:2 - fuse.tessarn tessarn rw\n"
        "47 26 0:42 / /bindfs rw - fuse.bindfs /src rw\n"
        "48 26 0:43 / /source-named rw - fuse fuse.tessarn rw\n"
        "49 26 0:44 / /short rw -\n"
        "garbage line\n";
    EXPECT_EQ(mountPointsOfType(mountInfo, "fuse.tessarn"),
              (QStringList{QStringLiteral("/tmp/a b"), QStringLiteral("/one"), QStringLiteral("/two")}));
    EXPECT_TRUE(mountPointsOfType("", "fuse.tessarn").isEmpty());
}
