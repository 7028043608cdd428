// Test support: a fresh folder per test, raw attribute access that bypasses the library
// under test, byte strings written as hex, and a thread with a small stack.
#pragma once

#include "test_support.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <pthread.h>
#include <sstream>
#include <string>
#include <sys/mount.h>
#include <sys/xattr.h>
#include <vector>

namespace TessarnTest {

using Bytes = std::vector<unsigned char>;

// "85 A4 65" -> {0x85, 0xA4, 0x65}
inline Bytes hex(const std::string& text)
{
    Bytes bytes;
    std::istringstream in(text);
    unsigned value;
    while (in >> std::hex >> value)
        bytes.push_back(static_cast<unsigned char>(value));
    return bytes;
}

inline Bytes operator+(Bytes head, const Bytes& tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

inline void setRawAttribute(const std::filesystem::path& path, const std::string& name,
                            const std::string& value)
{
    ASSERT_EQ(::lsetxattr(path.c_str(), name.c_str(), value.data(), value.size(), 0), 0)
        << path << " " << name;
}

inline void setRawAttribute(const std::filesystem::path& path, const std::string& name,
                            const Bytes& value)
{
    setRawAttribute(path, name, std::string(value.begin(), value.end()));
}

inline std::optional<Bytes> rawAttribute(const std::filesystem::path& path, const std::string& name)
{
    const auto size = ::lgetxattr(path.c_str(), name.c_str(), nullptr, 0);
    if (size < 0)
        return std::nullopt;
    Bytes value(static_cast<std::size_t>(size));
    if (::lgetxattr(path.c_str(), name.c_str(), value.data(), value.size()) != size)
        return std::nullopt;
    return value;
}

// Expects decode() to raise Exception with the given id and a text that contains text.
template <typename Exception, typename Decode>
void expectJsonError(const Decode& decode, int id, const std::string& text)
{
    try {
        decode();
        ADD_FAILURE() << "no exception for " << text;
    } catch (const Exception& e) {
        EXPECT_EQ(e.id, id) << e.what();
        EXPECT_NE(std::string(e.what()).find(text), std::string::npos) << e.what();
    }
}

// Runs work on a thread whose stack is as small as some thread pools give their workers.
inline void runOnSmallStack(const std::function<void()>& work, std::size_t stackSize = 256 << 10)
{
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, stackSize);
    pthread_t thread;
    auto entry = [](void* argument) -> void* {
        (*static_cast<const std::function<void()>*>(argument))();
        return nullptr;
    };
    const int rc =
        pthread_create(&thread, &attributes, entry, const_cast<std::function<void()>*>(&work));
    pthread_attr_destroy(&attributes);
    ASSERT_EQ(rc, 0);
    pthread_join(thread, nullptr);
}

class ScratchFolder : public ::testing::Test {
protected:
    TempDir scratch;
    const std::filesystem::path folder = scratch.path();
};

// A folder on a ramfs mount, a file system without extended attributes. Needs the right
// to mount; tests skip without it.
class FolderWithoutXattrs : public ScratchFolder {
protected:
    void SetUp() override
    {
        if (::mount("tessarn-test", folder.c_str(), "ramfs", MS_NOSUID | MS_NODEV, nullptr) != 0)
            GTEST_SKIP() << "cannot mount a ramfs here (" << std::strerror(errno)
                         << "); no file system without extended attributes to test on";
        mounted = true;
    }
    void TearDown() override
    {
        if (mounted)
            ::umount2(folder.c_str(), MNT_DETACH);
    }

    bool mounted = false;
};

} // namespace TessarnTest
