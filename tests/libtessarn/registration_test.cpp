#include "scratch_folder.h"

#include <nlohmann/json.hpp>
#include <tessarn/tessarn.h>

using namespace TessarnTest;
using Tessarn::Registration;

namespace {

const Bytes u1Encoding = hex("82 A5 6F 77 6E 65 72 A2 75 31 A7 76 65 72 73 69 6F 6E 00");
const std::string attribute(Tessarn::Constants::registrationAttribute);

// An owner "u1" record with its version given as raw MessagePack, as other writers may.
Bytes u1WithVersion(const Bytes& version)
{
    return Bytes(u1Encoding.begin(), u1Encoding.end() - 1) + version;
}

template <typename Exception> void expectFailure(const Bytes& data, int id, const std::string& text)
{
    expectJsonError<Exception>([&] { Registration::fromData("d", data); }, id, text);
}

TEST(RegistrationEncoding, MatchesTheDocumentedBytes)
{
    EXPECT_EQ(Registration("d", "u1").toData(), u1Encoding);

    const std::string longOwner(256, 'o');
    EXPECT_EQ(Registration("d", longOwner).toData(), hex("82 A5 6F 77 6E 65 72 DA 01 00") +
                                                         Bytes(longOwner.begin(), longOwner.end()) +
                                                         hex("A7 76 65 72 73 69 6F 6E 00"));

    for (const auto& version : {hex("CD 01 2C"), hex("FF"), hex("D2 80 00 00 00")}) {
        const auto data = u1WithVersion(version);
        EXPECT_EQ(Registration::fromData("d", data).toData(), data) << "shortest form kept";
    }
}

TEST(RegistrationDecoding, ReadsOwnerAndVersionByKey)
{
    const auto plain = Registration::fromData("d", u1Encoding);
    EXPECT_TRUE(plain.isOk());
    EXPECT_TRUE(plain);
    EXPECT_EQ(plain.path(), "d");
    EXPECT_EQ(plain.owner(), "u1");
    EXPECT_EQ(plain.version(), 0);

    const std::vector<std::pair<Bytes, int>> versions = {
        {hex("03"), 3},     {hex("C3"), 1},
        {hex("C2"), 0},     {hex("CB 40 07 33 33 33 33 33 33"), 2}, // 2.9
        {hex("D0 FB"), -5}, {hex("CE 7F FF FF FF"), 2147483647}};
    for (const auto& [form, version] : versions)
        EXPECT_EQ(Registration::fromData("d", u1WithVersion(form)).version(), version);

    const auto reordered = hex("83 A7 76 65 72 73 69 6F 6E 07 A5 65 78 74 72 61 C0"
                               " A5 6F 77 6E 65 72 A2 75 32");
    const auto other = Registration::fromData("d", reordered);
    EXPECT_EQ(other.owner(), "u2");
    EXPECT_EQ(other.version(), 7);
}

TEST(RegistrationDecoding, EmptyBytesAreAnInvalidPath)
{
    const auto empty = Registration::fromData("d", {});
    EXPECT_FALSE(empty);
    EXPECT_EQ(empty.error(), "Invalid path");
    EXPECT_EQ(empty.owner(), "");
    EXPECT_EQ(empty.version(), 0);
}

TEST(RegistrationDecoding, MalformedRecordsRaiseTheJsonLibrarysErrors)
{
    expectFailure<nlohmann::json::parse_error>(u1Encoding + hex("00"), 110, "end of input");
    expectFailure<nlohmann::json::parse_error>(hex("82 A5 6F"), 110, "end of input");
    expectFailure<nlohmann::json::type_error>(hex("90"), 304, "cannot use at() with array");
    expectFailure<nlohmann::json::out_of_range>(hex("81 A7 76 65 72 73 69 6F 6E 00"), 403,
                                                "key 'owner' not found");
    expectFailure<nlohmann::json::out_of_range>(hex("81 A5 6F 77 6E 65 72 A2 75 31"), 403,
                                                "key 'version' not found");
    expectFailure<nlohmann::json::type_error>(
        hex("82 A5 6F 77 6E 65 72 01 A7 76 65 72 73 69 6F 6E 00"), 302,
        "type must be string, but is number");
    expectFailure<nlohmann::json::type_error>(u1WithVersion(hex("A1 31")), 302,
                                              "type must be number, but is string");
    expectFailure<nlohmann::json::type_error>(u1WithVersion(hex("C0")), 302,
                                              "type must be number, but is null");
}

using RegistrationOnDisk = ScratchFolder;

TEST_F(RegistrationOnDisk, FollowsTheFoldersStates)
{
    const auto unregistered = Registration::fromAttributes(folder);
    EXPECT_EQ(unregistered.error(), "No registration info found");
    EXPECT_EQ(unregistered.path(), folder);

    const auto first = Registration::registerFilesystem(folder, "u1");
    EXPECT_TRUE(first) << first.error();
    EXPECT_EQ(first.owner(), "u1");
    EXPECT_EQ(first.version(), 0);
    EXPECT_EQ(rawAttribute(folder, attribute), u1Encoding);
    EXPECT_EQ(Registration::fromAttributes(folder).owner(), "u1");

    setRawAttribute(folder, attribute, u1WithVersion(hex("03")));
    EXPECT_EQ(Registration::fromAttributes(folder).version(), 3);
    EXPECT_TRUE(Registration::registerFilesystem(folder, "u1")) << "same owner";
    EXPECT_EQ(rawAttribute(folder, attribute), u1Encoding) << "rewritten with version 0";

    const auto refused = Registration::registerFilesystem(folder, "u2");
    EXPECT_EQ(refused.error(),
              "Failed to register Tessarn. The path '" + folder.native() + "' is owned by: u1");
    EXPECT_EQ(refused.owner(), "u1");
    EXPECT_EQ(rawAttribute(folder, attribute), u1Encoding) << "left unchanged";

    setRawAttribute(folder, attribute, Bytes());
    EXPECT_EQ(Registration::fromAttributes(folder).error(), "Invalid path");
    EXPECT_TRUE(Registration::registerFilesystem(folder, "u2")) << "over an empty record";
    EXPECT_EQ(Registration::fromAttributes(folder).owner(), "u2");

    EXPECT_TRUE(Registration::unregisterFilesystem(Registration(folder, "anyone")));
    EXPECT_EQ(Registration::fromAttributes(folder).error(), "No registration info found");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Registration::unregisterFilesystem(Registration(folder)));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Failed to unregister Tessarn\n");
}

TEST_F(RegistrationOnDisk, MalformedRecordIsNeitherReadNorOverwritten)
{
    const Bytes malformed = hex("82 A5 6F 77 6E 65 72");
    setRawAttribute(folder, attribute, malformed);
    EXPECT_THROW(Registration::fromAttributes(folder), nlohmann::json::parse_error);
    EXPECT_THROW(Registration::registerFilesystem(folder, "u1"), nlohmann::json::parse_error);
    EXPECT_EQ(rawAttribute(folder, attribute), malformed);
    EXPECT_TRUE(Registration::unregisterFilesystem(Registration(folder)));
    EXPECT_TRUE(Registration::registerFilesystem(folder, "u1"));
}

TEST_F(RegistrationOnDisk, CannotClaimWhatHasNoAttributesOfItsOwn)
{
    ASSERT_TRUE(Registration::registerFilesystem(folder, "u1"));
    const auto link = folder / "link";
    std::filesystem::create_symlink(folder, link);
    EXPECT_EQ(Registration::fromAttributes(link).error(), "No registration info found");
    EXPECT_EQ(Registration::registerFilesystem(link, "u2").error(), "Failed to register Tessarn");

    const auto missing = folder / "missing";
    EXPECT_EQ(Registration::registerFilesystem(missing, "u1").error(),
              "Failed to register Tessarn");
    EXPECT_EQ(Registration::fromAttributes(folder).owner(), "u1");
}

using RegistrationWithoutXattrs = FolderWithoutXattrs;

TEST_F(RegistrationWithoutXattrs, RegisteringFails)
{
    EXPECT_EQ(Registration::fromAttributes(folder).error(), "No registration info found");
    EXPECT_EQ(Registration::registerFilesystem(folder, "u1").error(), "Failed to register Tessarn");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Registration::unregisterFilesystem(Registration(folder)));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Failed to unregister Tessarn\n");
}

} // namespace
