// A program of another project: writes the placeholder record of a new file with libtessarn
// and reads it back.
#include <cstdio>
#include <fstream>
#include <tessarn/tessarn.h>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s NEW-FILE\n", argv[0]);
        return 2;
    }
    const std::filesystem::path file = argv[1];
    std::ofstream{file};
    const auto data =
        Tessarn::PlaceHolderAttributes::create(file, "e1", "00000412oc", 4096).toData();
    if (Xattr::setxattr(file, Tessarn::Constants::placeholderAttribute.data(),
                        reinterpret_cast<const char*>(data.data()), data.size(), 0) < 0) {
        std::fprintf(stderr, "cannot write the record of %s\n", argv[1]);
        return 1;
    }
    const auto record = Tessarn::PlaceHolderAttributes::fromAttributes(file);
    if (!record || !record->isOk() || record->fileId != "00000412oc" || record->size != 4096 ||
        record->state != Tessarn::Constants::States::Dehydrated) {
        std::fprintf(stderr, "the record of %s does not read back\n", argv[1]);
        return 1;
    }
    std::printf("libtessarn %s: %s is the placeholder of %s, %lu bytes\n", TESSARN_VERSION_STRING,
                argv[1], record->fileId.c_str(), record->size);
    return 0;
}
