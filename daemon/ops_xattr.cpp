// Extended attributes pass through, placeholder record included. Two names are answered by the
// daemon itself: the real size of the content, and a default record for files without one.
#include "errno_result.h"
#include "operation_log.h"
#include "operations.h"
#include "paths.h"

#include <cstring>
#include <string_view>
#include <sys/stat.h>
#include <tessarn.h>
#include <vector>

namespace TessarnFuse::Operations {

namespace {

using Tessarn::Constants::placeholderAttribute;
using Tessarn::Constants::realSizeAttribute;

// An attribute value by the kernel's rule: size 0 asks for the length only.
int answerValue(std::string_view value, char* buffer, size_t size)
{
    if (size == 0)
        return static_cast<int>(value.size());
    if (size < value.size())
        return -ERANGE;
    std::memcpy(buffer, value.data(), value.size());
    return static_cast<int>(value.size());
}

const std::vector<unsigned char>& defaultRecord()
{
    static const auto bytes =
        Tessarn::PlaceHolderAttributes({}, "", "", 0, Tessarn::Constants::States::Hydrated,
                                       Tessarn::Constants::PinStates::Inherited)
            .toData();
    return bytes;
}

int realSize(const std::string& path, char* buffer, size_t size)
{
    struct stat st {};
    if (const int result = resultOf(::lstat(path.c_str(), &st)); result < 0)
        return result;
    return answerValue(std::to_string(st.st_size), buffer, size);
}

} // namespace

int getxattr(const char* fusePath, const char* name, char* buffer, size_t size)
{
    const auto path = rootRelativePath(fusePath);
    if (name == realSizeAttribute)
        return realSize(path, buffer, size);
    const int result = Xattr::getxattr(path, name, buffer, size);
    if (result != -ENODATA || name != placeholderAttribute)
        return result;
    logOperation(path, "getxattr", 0, "Returning default data for %s", name);
    const auto& record = defaultRecord();
    return answerValue({reinterpret_cast<const char*>(record.data()), record.size()}, buffer,
                       size);
}

int setxattr(const char* fusePath, const char* name, const char* value, size_t size, int flags)
{
    return Xattr::setxattr(rootRelativePath(fusePath), name, value, size, flags);
}

int listxattr(const char* fusePath, char* list, size_t size)
{
    return Xattr::listxattr(rootRelativePath(fusePath), list, size);
}

int removexattr(const char* fusePath, const char* name)
{
    return Xattr::removexattr(rootRelativePath(fusePath), name);
}

} // namespace TessarnFuse::Operations
