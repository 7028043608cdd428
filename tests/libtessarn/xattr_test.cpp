#include "scratch_folder.h"

#include <cerrno>
#include <dlfcn.h>
#include <tessarn/tessarn.h>

using namespace TessarnTest;

namespace {

// Buffer sizes of the lgetxattr calls made for one attribute name, seen by interposing on
// the C library's function.
std::string watchedName;
std::vector<std::size_t> readSizes;

} // namespace

extern "C" ssize_t lgetxattr(const char* path, const char* name, void* value, size_t size)
{
    using Function = ssize_t (*)(const char*, const char*, void*, size_t);
    static const auto next = reinterpret_cast<Function>(dlsym(RTLD_NEXT, "lgetxattr"));
    if (name == watchedName)
        readSizes.push_back(size);
    return next(path, name, value, size);
}

namespace {

constexpr const char* name = "user.tessarn.test";

class XattrTest : public ScratchFolder {
protected:
    void SetUp() override
    {
        file = folder / "file";
        writeFile(file);
        watchedName = name;
        readSizes.clear();
    }

    std::filesystem::path file;
};

std::string valueOfLength(std::size_t length)
{
    std::string value;
    for (std::size_t i = 0; i < length; ++i)
        value.push_back(static_cast<char>(i * 7)); // NUL bytes and non-text included
    return value;
}

TEST_F(XattrTest, WrappersReturnLengthsOrNegatedErrno)
{
    EXPECT_EQ(Xattr::setxattr(file, name, "hello", 5, 0), 0);
    EXPECT_EQ(Xattr::setxattr(file, name, "hello", 5, XATTR_CREATE), -EEXIST);
    EXPECT_EQ(Xattr::setxattr(file, "user.tessarn.other", "x", 1, XATTR_REPLACE), -ENODATA);

    char buffer[64] = "untouched";
    EXPECT_EQ(Xattr::getxattr(file, name, buffer, 0), 5) << "size query";
    EXPECT_STREQ(buffer, "untouched");
    EXPECT_EQ(Xattr::getxattr(file, name, buffer, 4), -ERANGE);
    EXPECT_EQ(Xattr::getxattr(file, name, buffer, sizeof buffer), 5);
    EXPECT_EQ(std::string(buffer, 5), "hello");

    const std::string names = std::string(name) + '\0';
    EXPECT_EQ(Xattr::listxattr(file, nullptr, 0), static_cast<int>(names.size()));
    EXPECT_EQ(Xattr::listxattr(file, buffer, sizeof buffer), static_cast<int>(names.size()));
    EXPECT_EQ(std::string(buffer, names.size()), names);

    EXPECT_EQ(Xattr::removexattr(file, name), 0);
    EXPECT_EQ(Xattr::removexattr(file, name), -ENODATA);
    EXPECT_EQ(Xattr::getxattr(file, name, buffer, sizeof buffer), -ENODATA);

    const auto missing = folder / "missing";
    EXPECT_EQ(Xattr::getxattr(missing, name, buffer, sizeof buffer), -ENOENT);
    EXPECT_EQ(Xattr::setxattr(missing, name, "x", 1, 0), -ENOENT);
    EXPECT_EQ(Xattr::listxattr(missing, buffer, sizeof buffer), -ENOENT);
    EXPECT_EQ(Xattr::removexattr(missing, name), -ENOENT);
}

TEST_F(XattrTest, WholeValueIsReadInBuffersGrowingBy255Bytes)
{
    const std::vector<std::pair<std::size_t, std::vector<std::size_t>>> cases = {
        {0, {255}},
        {254, {255}},
        {255, {255}},
        {256, {255, 510}},
        {510, {255, 510}},
        {511, {255, 510, 765}},
        {4000,
         {255, 510, 765, 1020, 1275, 1530, 1785, 2040, 2295, 2550, 2805, 3060, 3315, 3570, 3825,
          4080}},
    };
    for (const auto& [length, expectedSizes] : cases) {
        const auto value = valueOfLength(length);
        setRawAttribute(file, name, value);
        readSizes.clear();
        EXPECT_EQ(Xattr::CPP::getxattr(file, name), value) << length << " bytes";
        EXPECT_EQ(readSizes, expectedSizes) << length << " bytes";
    }
}

TEST_F(XattrTest, WholeValueIsEmptyOnlyWhenItCannotBeRead)
{
    EXPECT_EQ(Xattr::CPP::getxattr(file, name), std::nullopt) << "absent";
    EXPECT_EQ(readSizes.size(), 1u);
    EXPECT_EQ(Xattr::CPP::getxattr(folder / "missing", name), std::nullopt);

    setRawAttribute(file, name, std::string());
    EXPECT_EQ(Xattr::CPP::getxattr(file, name), std::string()) << "present but empty";
}

TEST_F(XattrTest, SymbolicLinksAreAddressedThemselves)
{
    setRawAttribute(file, name, std::string("target's"));
    const auto link = folder / "link";
    std::filesystem::create_symlink(file, link);

    char buffer[16];
    EXPECT_EQ(Xattr::getxattr(link, name, buffer, sizeof buffer), -ENODATA);
    EXPECT_EQ(Xattr::CPP::getxattr(link, name), std::nullopt);
    EXPECT_EQ(Xattr::setxattr(link, name, "x", 1, 0), -EPERM);
    EXPECT_EQ(Xattr::listxattr(link, buffer, sizeof buffer), 0);
    EXPECT_LT(Xattr::removexattr(link, name), 0);
    EXPECT_EQ(Xattr::CPP::getxattr(file, name), "target's");
}

using XattrWithoutSupport = FolderWithoutXattrs;

TEST_F(XattrWithoutSupport, ReadsAreEmptyAndWritesFail)
{
    const auto file = folder / "file";
    writeFile(file);
    char buffer[16];
    EXPECT_EQ(Xattr::getxattr(file, name, buffer, sizeof buffer), -EOPNOTSUPP);
    EXPECT_EQ(Xattr::setxattr(file, name, "x", 1, 0), -EOPNOTSUPP);
    EXPECT_EQ(Xattr::CPP::getxattr(file, name), std::nullopt);
}

} // namespace
