// Writes the catalogue of forgeries into DIR (tests/data/forgeries): each
// forgery's file and the MANIFEST that lists them. The tests compare the
// checked-in folder with what this writes, so change the two together:
//   make_forgeries tests/data/forgeries
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "test_data.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_forgeries DIR\n");
        return 2;
    }
    const std::filesystem::path dir = std::filesystem::u8path(argv[1]);
    std::filesystem::create_directories(dir);
    const std::vector<MadeForgery> made = MakeForgeries();
    for (const MadeForgery& m : made) {
        WriteFile((dir / m.forgery.file).u8string(), m.bytes);
    }
    std::ofstream(dir / "MANIFEST", std::ios::binary) << ManifestText(made);
    std::printf("make_forgeries: %zu forgeries and their MANIFEST in %s\n", made.size(), argv[1]);
    return 0;
}
