// File-system helpers of the client: paths, modification times, inodes, removal.
#pragma once

#include <QFlags>
#include <QLoggingCategory>
#include <QString>
#include <QStringView>
#include <ctime>
#include <filesystem>

namespace VDK {

Q_DECLARE_LOGGING_CATEGORY(lcFileSystem) // "sync.filesystem"

namespace FileSystem {

// Texts are UTF-8 on this platform, so file names convert without loss both ways.
std::filesystem::path toFilesystemPath(const QString& path);
QString fromFilesystemPath(const std::filesystem::path& path);

// A local path. Joining takes the right side as relative even when it starts with a
// separator, so an absolute text cannot replace the left side ("../" still climbs).
class Path {
public:
    Path() = default;
    explicit Path(std::filesystem::path path) : m_path(std::move(path)) {}
    explicit Path(const QString& path) : m_path(toFilesystemPath(path)) {}

    // A path below a folder root: normalised, without leading separators; "" and "."
    // both name the root itself and give the empty path.
    static Path relative(const QString& path);

    Path operator/(const Path& other) const { return Path(m_path / other.m_path.relative_path()); }
    Path operator/(const QString& other) const { return *this / Path(other); }

    // Whether the path, or the target of a symbolic link, exists.
    bool exists() const;
    QString toString() const { return fromFilesystemPath(m_path); }
    const std::filesystem::path& get() const { return m_path; }
    operator const std::filesystem::path&() const { return m_path; }

private:
    std::filesystem::path m_path;
};

// Flag values of isChildPathOf2. A path counts as a child of itself: equal paths carry
// both flags (3), a path strictly below the other only IsChild (1).
enum class ChildResult : unsigned {
    NotAChild = 0,
    IsChild = 1,
    IsEqual = 2,
};
Q_DECLARE_FLAGS(ChildResults, ChildResult)

// Compares the texts after removing ".", ".." and doubled or trailing separators;
// symbolic links are not resolved and case matters.
ChildResults isChildPathOf2(QStringView child, QStringView parent);

// True when the file no longer has this size and modification time, or cannot be
// examined at all.
bool fileChanged(const std::filesystem::path& path, qint64 previousSize, std::time_t previousMtime);

bool getInode(const std::filesystem::path& path, quint64* inode);

// Removes a file, or an empty folder; on failure the reason goes to errorString if given.
bool remove(const std::filesystem::path& path, QString* errorString);

bool setModTime(const std::filesystem::path& path, std::time_t modTime);

} // namespace FileSystem
} // namespace VDK

Q_DECLARE_OPERATORS_FOR_FLAGS(VDK::FileSystem::ChildResults)
