// The FUSE operations, each forwarding to the folder underneath the mount. They return 0, a
// count or a negated errno, and may throw: the table in operations.cpp catches at the boundary.
#pragma once

#include <fuse3/fuse.h>

namespace TessarnFuse::Operations {

int getattr(const char* path, struct stat* st, fuse_file_info* fi);
int readlink(const char* path, char* buffer, size_t size);
int mknod(const char* path, mode_t mode, dev_t device);
int mkdir(const char* path, mode_t mode);
int unlink(const char* path);
int rmdir(const char* path);
int symlink(const char* target, const char* path);
int rename(const char* from, const char* to, unsigned int flags);
int link(const char* from, const char* to);
int chmod(const char* path, mode_t mode, fuse_file_info* fi);
int chown(const char* path, uid_t uid, gid_t gid, fuse_file_info* fi);
int truncate(const char* path, off_t size, fuse_file_info* fi);
int open(const char* path, fuse_file_info* fi);
int read(const char* path, char* buffer, size_t size, off_t offset, fuse_file_info* fi);
int write(const char* path, const char* data, size_t size, off_t offset, fuse_file_info* fi);
int statfs(const char* path, struct statvfs* buffer);
int release(const char* path, fuse_file_info* fi);
int fsync(const char* path, int dataSync, fuse_file_info* fi);
int setxattr(const char* path, const char* name, const char* value, size_t size, int flags);
int getxattr(const char* path, const char* name, char* buffer, size_t size);
int listxattr(const char* path, char* list, size_t size);
int removexattr(const char* path, const char* name);
int readdir(const char* path, void* buffer, fuse_fill_dir_t filler, off_t offset,
            fuse_file_info* fi, fuse_readdir_flags flags);
void* init(fuse_conn_info* connection, fuse_config* config);
int access(const char* path, int mask);
int create(const char* path, mode_t mode, fuse_file_info* fi);
int utimens(const char* path, const struct timespec times[2], fuse_file_info* fi);

// The table handed to FUSE, every operation guarded against escaping exceptions.
const fuse_operations& table();

} // namespace TessarnFuse::Operations
