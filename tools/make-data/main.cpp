// make-data DIR [FILE...]: writes the show's data files (all ten, or the ones named) into DIR.
#include "data_set.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

void Usage(std::FILE* out) {
    std::fputs("usage: make-data DIR [FILE...]\n"
               "\n"
               "Writes the show's data files into the folder DIR, which must exist: all ten, or only the FILEs named\n"
               "(for example quimbles.png). The same bytes come out on every run and machine.\n",
               out);
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h"))) {
        Usage(stdout);
        return 0;
    }
    if (argc < 2 || argv[1][0] == '-') {
        Usage(stderr);
        return 2;
    }
    std::string dir = argv[1];
    std::vector<std::string> names;
    for (int i = 2; i < argc; ++i)
        names.push_back(argv[i]);
    if (names.empty())
        names = makedata::DataFileNames();
    for (const std::string& name : names) {
        std::fprintf(stderr, "%s\n", name.c_str());
        std::vector<uint8_t> bytes = makedata::MakeDataFile(name);
        std::string path = dir + "/" + name;
        FILE* f = std::fopen(path.c_str(), "wb");
        if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f) != 0) {
            std::fprintf(stderr, "make-data: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
