// quimbles-inspect: small maintainer tool that runs one decoder on one file and dumps what it produced.
#include <cstdio>
#include <cstring>

#include "commands.h"

namespace {

struct Subcommand {
    const char* name;
    const char* usage;
    int (*run)(int argc, char** argv);
};

// A new subcommand is one more line here (and its function in its own file).
const Subcommand Subcommands[] = {
    {"png", "png FILE OUT [ALPHAMODE]   decode a PNG; prints 'width height hasAlpha isGrey', pixels to OUT",
     InspectPng},
    {"inflate", "inflate IN LIMIT OUT       inflate a zlib stream into LIMIT bytes; produced bytes to OUT",
     InspectInflate},
    {"movie", "movie FILE FRAME OUT         draw one movie frame; prints the frame count, 640x480 words to OUT",
     InspectMovie},
};

void PrintUsage(std::FILE* to) {
    std::fprintf(to, "usage: quimbles-inspect SUBCOMMAND ARGS...\n\nsubcommands:\n");
    for (const Subcommand& s : Subcommands)
        std::fprintf(to, "  %s\n", s.usage);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        PrintUsage(stderr);
        return ExitUsage;
    }
    if (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
        PrintUsage(stdout);
        return 0;
    }
    for (const Subcommand& s : Subcommands)
        if (!std::strcmp(argv[1], s.name))
            return s.run(argc - 2, argv + 2);
    std::fprintf(stderr, "quimbles-inspect: unknown subcommand '%s'\n", argv[1]);
    PrintUsage(stderr);
    return ExitUsage;
}
