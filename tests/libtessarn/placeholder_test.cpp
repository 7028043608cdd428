#include "scratch_folder.h"

#include <algorithm>
#include <limits>
#include <nlohmann/json.hpp>
#include <tessarn/tessarn.h>

using namespace TessarnTest;
using Tessarn::PlaceHolderAttributes;
using States = Tessarn::Constants::States;
using PinStates = Tessarn::Constants::PinStates;

namespace {

const Bytes example = hex("85 A4 65 74 61 67 A3 61 62 63 A6 66 69 6C 65 69 64 A2 34 32"
                          " A8 70 69 6E 73 74 61 74 65 03 A4 73 69 7A 65 CD 03 E8"
                          " A5 73 74 61 74 65 01");
const Bytes defaultEncoding = hex("85 A4 65 74 61 67 A0 A6 66 69 6C 65 69 64 A0"
                                  " A8 70 69 6E 73 74 61 74 65 03 A4 73 69 7A 65 00"
                                  " A5 73 74 61 74 65 00");

Bytes fixstr(const std::string& text)
{
    return Bytes{static_cast<unsigned char>(0xA0 | text.size())} + Bytes(text.begin(), text.end());
}

// A MessagePack map written member by member, each value given as its raw encoding.
Bytes mapOf(const std::vector<std::pair<std::string, Bytes>>& members)
{
    Bytes map{static_cast<unsigned char>(0x80 | members.size())};
    for (const auto& [key, value] : members)
        map = map + fixstr(key) + value;
    return map;
}

// The example record with some members replaced in place, added, or (given no bytes) left out.
Bytes exampleWith(const std::vector<std::pair<std::string, std::optional<Bytes>>>& changes)
{
    std::vector<std::pair<std::string, Bytes>> members = {{"etag", fixstr("abc")},
                                                          {"fileid", fixstr("42")},
                                                          {"pinstate", hex("03")},
                                                          {"size", hex("CD 03 E8")},
                                                          {"state", hex("01")}};
    for (const auto& change : changes) {
        const auto member = std::find_if(members.begin(), members.end(), [&](const auto& member) {
            return member.first == change.first;
        });
        if (member == members.end())
            members.emplace_back(change.first, *change.second);
        else if (change.second)
            member->second = *change.second;
        else
            members.erase(member);
    }
    return mapOf(members);
}

void expectFields(const PlaceHolderAttributes& record, const std::string& etag,
                  const std::string& fileId, unsigned long size, unsigned state, unsigned pinState)
{
    EXPECT_EQ(record.etag, etag);
    EXPECT_EQ(record.fileId, fileId);
    EXPECT_EQ(record.size, size);
    EXPECT_EQ(static_cast<unsigned>(record.state), state);
    EXPECT_EQ(static_cast<unsigned>(record.pinState), pinState);
}

template <typename Exception> void expectFailure(const Bytes& data, int id, const std::string& text)
{
    expectJsonError<Exception>([&] { PlaceHolderAttributes::fromData("f", data); }, id, text);
}

TEST(PlaceholderEncoding, MatchesTheDocumentedBytes)
{
    const auto record =
        PlaceHolderAttributes("f", "abc", "42", 1000, States::Dehydrated, PinStates::Inherited);
    EXPECT_EQ(record.toData(), example);
    EXPECT_EQ(PlaceHolderAttributes::fromData("f", {}).toData(), defaultEncoding);
}

TEST(PlaceholderEncoding, StringsTakeTheirShortestForm)
{
    const std::vector<std::pair<std::size_t, Bytes>> cases = {
        {31, hex("BF")},        {32, hex("D9 20")},       {255, hex("D9 FF")},
        {256, hex("DA 01 00")}, {65535, hex("DA FF FF")}, {65536, hex("DB 00 01 00 00")}};
    for (const auto& [length, header] : cases) {
        const std::string etag(length, 'e');
        const auto data = PlaceHolderAttributes::create("f", etag, "", 0).toData();
        const auto expected = hex("85") + fixstr("etag") + header +
                              Bytes(etag.begin(), etag.end()) + fixstr("fileid") + hex("A0") +
                              fixstr("pinstate") + hex("03") + fixstr("size") + hex("00") +
                              fixstr("state") + hex("01");
        EXPECT_EQ(data, expected) << length << " bytes";
    }
}

TEST(PlaceholderEncoding, NumbersTakeTheirShortestUnsignedForm)
{
    const std::vector<std::pair<unsigned long, Bytes>> sizes = {
        {127, hex("7F")},
        {128, hex("CC 80")},
        {255, hex("CC FF")},
        {256, hex("CD 01 00")},
        {65535, hex("CD FF FF")},
        {65536, hex("CE 00 01 00 00")},
        {4294967295, hex("CE FF FF FF FF")},
        {4294967296, hex("CF 00 00 00 01 00 00 00 00")},
        {std::numeric_limits<unsigned long>::max(), hex("CF FF FF FF FF FF FF FF FF")}};
    for (const auto& [size, form] : sizes) {
        const auto data = PlaceHolderAttributes::create("f", "abc", "42", size).toData();
        EXPECT_EQ(data, exampleWith({{"size", form}})) << size;
    }
    const auto odd = PlaceHolderAttributes("f", "abc", "42", 1000, static_cast<States>(200),
                                           static_cast<PinStates>(128));
    EXPECT_EQ(odd.toData(), exampleWith({{"pinstate", hex("CC 80")}, {"state", hex("CC C8")}}));
}

TEST(PlaceholderDecoding, RoundTripsUnderAnotherPath)
{
    const auto original = PlaceHolderAttributes("a/f", std::string("e\0t", 3), "id", 123456789012,
                                                States::Hydrating, PinStates::Excluded);
    const auto decoded = PlaceHolderAttributes::fromData("b/g", original.toData());
    EXPECT_TRUE(decoded.ok);
    EXPECT_EQ(decoded.path, "b/g");
    expectFields(decoded, original.etag, "id", 123456789012, 2, 4);
}

TEST(PlaceholderDecoding, EmptyBytesGiveTheDefaultRecord)
{
    const auto record = PlaceHolderAttributes::fromData("dir/f", {});
    EXPECT_FALSE(record.ok);
    EXPECT_FALSE(record);
    EXPECT_EQ(record.path, "dir/f");
    expectFields(record, "", "", 0, 0, 3);

    const auto decoded = PlaceHolderAttributes::fromData("dir/f", defaultEncoding);
    EXPECT_TRUE(decoded.ok);
    expectFields(decoded, "", "", 0, 0, 3);
}

TEST(PlaceholderDecoding, ToleratesOrderExtraMembersAndOtherNumberForms)
{
    const auto reordered = mapOf({{"state", hex("01")},
                                  {"size", hex("CD 03 E8")},
                                  {"pinstate", hex("03")},
                                  {"fileid", fixstr("42")},
                                  {"etag", fixstr("abc")},
                                  {"extra", hex("92 C3 C0")}});
    expectFields(PlaceHolderAttributes::fromData("f", reordered), "abc", "42", 1000, 1, 3);

    const std::vector<std::pair<Bytes, unsigned long>> sizes = {
        {hex("D1 03 E8"), 1000},                                // int16
        {hex("CB 40 8F 45 99 99 99 99 9A"), 1000},              // float64 1000.7
        {hex("CA 44 7A 2C CD"), 1000},                          // float32 1000.7
        {hex("FF"), std::numeric_limits<unsigned long>::max()}, // -1
        // Floats beyond the range, where a plain cast is undefined, saturate.
        {hex("CB 7F F0 00 00 00 00 00 00"), std::numeric_limits<unsigned long>::max()}, // +inf
        {hex("CB 7F F8 00 00 00 00 00 00"), 0},                                         // NaN
    };
    for (const auto& [form, size] : sizes)
        EXPECT_EQ(PlaceHolderAttributes::fromData("f", exampleWith({{"size", form}})).size, size);

    const auto lowBits = PlaceHolderAttributes::fromData(
        "f", exampleWith({{"state", hex("CD 01 07")}, {"pinstate", hex("D1 FF 01")}}));
    expectFields(lowBits, "abc", "42", 1000, 7, 1);
    const auto floats = PlaceHolderAttributes::fromData(
        "f", exampleWith({{"state", hex("CB 40 00 CC CC CC CC CC CD")}})); // 2.1
    EXPECT_EQ(static_cast<unsigned>(floats.state), 2u);
}

TEST(PlaceholderDecoding, MalformedBytesRaiseParseError)
{
    const Bytes truncated(example.begin(), example.end() - 1);
    expectFailure<nlohmann::json::parse_error>(truncated, 110, "unexpected end of input");
    expectFailure<nlohmann::json::parse_error>(example + hex("00"), 110, "expected end of input");
    expectFailure<nlohmann::json::parse_error>(hex("C1"), 112, "invalid byte: 0xC1");
}

TEST(PlaceholderDecoding, ValuesOtherThanAMapRaiseTypeError304)
{
    expectFailure<nlohmann::json::type_error>(hex("93 01 02 03"), 304,
                                              "cannot use at() with array");
    expectFailure<nlohmann::json::type_error>(hex("A3 61 62 63"), 304,
                                              "cannot use at() with string");
    expectFailure<nlohmann::json::type_error>(hex("C0"), 304, "cannot use at() with null");
    expectFailure<nlohmann::json::type_error>(hex("2A"), 304, "cannot use at() with number");
}

TEST(PlaceholderDecoding, MissingMembersRaiseOutOfRange403)
{
    expectFailure<nlohmann::json::out_of_range>(exampleWith({{"pinstate", std::nullopt}}), 403,
                                                "key 'pinstate' not found");
    expectFailure<nlohmann::json::out_of_range>(exampleWith({{"etag", std::nullopt}}), 403,
                                                "key 'etag' not found");
    expectFailure<nlohmann::json::out_of_range>(hex("80"), 403, "key 'etag' not found");
}

TEST(PlaceholderDecoding, WrongMemberTypesRaiseTypeError302)
{
    const std::string notNumber = "type must be number, but is ";
    for (const std::string key : {"size", "state", "pinstate"}) {
        expectFailure<nlohmann::json::type_error>(exampleWith({{key, hex("C3")}}), 302,
                                                  notNumber + "boolean");
        expectFailure<nlohmann::json::type_error>(exampleWith({{key, hex("C2")}}), 302,
                                                  notNumber + "boolean");
    }
    expectFailure<nlohmann::json::type_error>(exampleWith({{"size", fixstr("1000")}}), 302,
                                              notNumber + "string");
    expectFailure<nlohmann::json::type_error>(exampleWith({{"state", hex("C0")}}), 302,
                                              notNumber + "null");
    expectFailure<nlohmann::json::type_error>(exampleWith({{"etag", hex("01")}}), 302,
                                              "type must be string, but is number");
    expectFailure<nlohmann::json::type_error>(exampleWith({{"fileid", hex("C4 01 00")}}), 302,
                                              "type must be string, but is binary");
}

TEST(PlaceholderDecoding, FirstFaultInMemberOrderIsReported)
{
    expectFailure<nlohmann::json::type_error>(
        exampleWith({{"etag", hex("01")}, {"pinstate", std::nullopt}}), 302, "must be string");
    expectFailure<nlohmann::json::out_of_range>(
        exampleWith({{"size", hex("C3")}, {"fileid", std::nullopt}}), 403, "key 'fileid'");
    expectFailure<nlohmann::json::type_error>(
        exampleWith({{"state", hex("C3")}, {"pinstate", std::nullopt}}), 302, "boolean");
}

// 64 KiB, the most an attribute value can hold, of nested one-element arrays or maps.
TEST(PlaceholderDecoding, DeepNestingIsRefusedEvenOnASmallStack)
{
    const Bytes arrays(65536, 0x91);
    Bytes maps;
    while (maps.size() < 65536)
        maps = maps + hex("81 A0");
    runOnSmallStack([&] {
        for (const auto& data : {arrays, maps}) {
            expectFailure<nlohmann::json::parse_error>(data, 112, "nesting deeper than 32 levels");
            EXPECT_THROW(Tessarn::Registration::fromData("d", data), nlohmann::json::parse_error);
        }
    });
}

TEST(PlaceholderDecoding, ExtraMembersMayNestUpTo32Levels)
{
    const auto nested = [](std::size_t arrays) { return Bytes(arrays, 0x91) + hex("00"); };
    // The record's map is the first level.
    const auto deepest = PlaceHolderAttributes::fromData("f", exampleWith({{"x", nested(31)}}));
    expectFields(deepest, "abc", "42", 1000, 1, 3);
    expectFailure<nlohmann::json::parse_error>(exampleWith({{"x", nested(32)}}), 112,
                                               "nesting deeper");
}

class PlaceholderOnDisk : public ScratchFolder {
protected:
    void SetUp() override
    {
        file = folder / "file";
        writeFile(file);
    }

    void setRealSize(const std::string& text)
    {
        setRawAttribute(file, std::string(Tessarn::Constants::realSizeAttribute), text);
    }

    std::filesystem::path file;
};

TEST_F(PlaceholderOnDisk, FromAttributesReadsTheDataAttribute)
{
    const std::string attribute(Tessarn::Constants::placeholderAttribute);
    EXPECT_EQ(PlaceHolderAttributes::fromAttributes(file), std::nullopt);
    EXPECT_EQ(PlaceHolderAttributes::fromAttributes(folder / "missing"), std::nullopt);

    setRawAttribute(file, attribute, example);
    const auto record = PlaceHolderAttributes::fromAttributes(file);
    ASSERT_TRUE(record);
    EXPECT_TRUE(record->ok);
    EXPECT_EQ(record->path, file);
    expectFields(*record, "abc", "42", 1000, 1, 3);

    setRawAttribute(file, attribute, Bytes());
    const auto empty = PlaceHolderAttributes::fromAttributes(file);
    ASSERT_TRUE(empty);
    EXPECT_FALSE(empty->ok);
    expectFields(*empty, "", "", 0, 0, 3);

    setRawAttribute(file, attribute, hex("85 A4"));
    EXPECT_THROW(PlaceHolderAttributes::fromAttributes(file), nlohmann::json::parse_error);
}

TEST_F(PlaceholderOnDisk, RealSizeParsesTheAttributeLikeStol)
{
    const auto record = PlaceHolderAttributes::create(file, "e", "i", 1000);
    const std::vector<std::pair<std::string, std::uint64_t>> texts = {
        {"  12abc", 12},
        {"+7", 7},
        {"0", 0},
        {std::string("5\0"
                     "9",
                     3),
         5},
        {"-1", std::numeric_limits<std::uint64_t>::max()}};
    for (const auto& [text, size] : texts) {
        setRealSize(text);
        EXPECT_EQ(record.realSize(), size) << text;
    }
    setRealSize("abc");
    EXPECT_THROW(record.realSize(), std::invalid_argument);
    setRealSize("");
    EXPECT_THROW(record.realSize(), std::invalid_argument);
    setRealSize("99999999999999999999");
    EXPECT_THROW(record.realSize(), std::out_of_range);
}

TEST_F(PlaceholderOnDisk, RealSizeFallsBackToTheFileSize)
{
    writeFile(file, "hello");
    EXPECT_EQ(PlaceHolderAttributes::create(file, "", "", 0).realSize(), 5u);

    const auto link = folder / "link";
    std::filesystem::create_symlink("file", link);
    EXPECT_EQ(PlaceHolderAttributes::create(link, "", "", 0).realSize(), 5u) << "link followed";

    EXPECT_THROW(PlaceHolderAttributes::create(folder, "", "", 0).realSize(),
                 std::filesystem::filesystem_error);
    EXPECT_THROW(PlaceHolderAttributes::create(folder / "missing", "", "", 0).realSize(),
                 std::filesystem::filesystem_error);
}

TEST_F(PlaceholderOnDisk, ValidateComparesTheRecordWithTheFile)
{
    EXPECT_FALSE(PlaceHolderAttributes::fromData(file, {}).validate()) << "no record";

    const auto hydrated = [&](unsigned long size) {
        return PlaceHolderAttributes(file, "", "", size, States::Hydrated, PinStates::Inherited);
    };
    EXPECT_TRUE(hydrated(0).validate());
    EXPECT_FALSE(hydrated(5).validate());

    const auto placeholder = PlaceHolderAttributes::create(file, "e", "i", 5);
    EXPECT_EQ(placeholder.state, States::Dehydrated);
    EXPECT_EQ(placeholder.pinState, PinStates::Inherited);
    EXPECT_TRUE(placeholder.ok);
    EXPECT_TRUE(placeholder.validate()) << "empty file";
    writeFile(file, "abc");
    EXPECT_FALSE(placeholder.validate()) << "file with content";
    setRealSize("0");
    EXPECT_TRUE(placeholder.validate()) << "realsize 0";
    setRealSize("none");
    EXPECT_THROW(placeholder.validate(), std::invalid_argument);

    for (const auto state : {2, 7, 255}) {
        auto other = hydrated(5);
        other.state = static_cast<States>(state);
        EXPECT_TRUE(other.validate()) << state;
    }
    EXPECT_THROW(PlaceHolderAttributes::create(folder / "missing", "", "", 0).validate(),
                 std::filesystem::filesystem_error);
}

} // namespace
