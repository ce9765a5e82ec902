// quimbles-play --info against libopenmpt, used as a black box, over every corpus module: title, channel count,
// order count and the length of one pass through the song (which also checks the scan's speed and tempo effects,
// breaks, jumps, loops and the order walk).
#include <gtest/gtest.h>
#include <libopenmpt/libopenmpt.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "audio/mixer.h"
#include "corpus_modules.h"
#include "music/music.h"

namespace {

std::string Trimmed(std::string text) {
    text.erase(text.find_last_not_of(' ') + 1);
    return text.erase(0, text.find_first_not_of(' '));
}

// Where this player times a song by rules of its own: a pattern delay (EEx) waits x ticks rather than x rows, and
// an order naming a pattern the file lacks plays 64 empty rows.
bool OwnTimingRules(const std::string& path) {
    ResetPlayer();
    BuildPeriodTables();
    const Module* module = player.moduleTable[LoadModule(path.c_str())];
    bool own = false;
    for (int k = 0; k < module->songLength; ++k) {
        if (module->orders[k] >= module->patternCount)
            own = true;
        else
            for (const NoteCell* cells : module->patterns[module->orders[k]].channelRows)
                for (int row = 0; cells && row < module->patterns[module->orders[k]].storedRows; ++row)
                    own = own || (cells[row].effect == 0xE && cells[row].param >> 4 == 0xE);
    }
    ReleaseMusic();
    return own;
}

TEST(PlayInfo, AgreesWithLibopenmpt) {
    const std::vector<std::string> modules = CorpusModules({"xm", "mod"});
    ASSERT_GE(modules.size(), 30u);
    std::string command = std::string(QUIMBLES_BINARY_DIR) + "/bin/quimbles-play --info";
    for (const std::string& path : modules)
        command += " '" + path + "'";
    // Each module's block: its path alone on a line, then "  key  value" lines.
    std::map<std::string, std::map<std::string, std::string>> info;
    std::FILE* out = popen(command.c_str(), "r");
    std::string file;
    for (char line[512]; out && std::fgets(line, sizeof line, out);) {
        std::string text(line);
        text.pop_back();
        if (text.compare(0, 2, "  ") != 0)
            file = text;
        else if (const size_t gap = text.find("  ", 2); gap != std::string::npos)
            info[file][text.substr(2, gap - 2)] = text.substr(std::min(text.find_first_not_of(' ', gap), text.size()));
    }
    ASSERT_EQ(out ? pclose(out) : -1, 0);
    double largest = 0;
    size_t compared = 0;
    for (const std::string& path : modules) {
        SCOPED_TRACE(path);
        std::map<std::string, std::string>& ours = info[path];
        std::ifstream in(path, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), {}};
        openmpt_module* m = openmpt_module_create_from_memory2(bytes.data(), bytes.size(), nullptr, nullptr, nullptr,
                                                               nullptr, nullptr, nullptr, nullptr);
        ASSERT_TRUE(m);
        openmpt_module_select_subsong(m, 0);
        const char* title = openmpt_module_get_metadata(m, "title");
        if (ours["title"].find('\\') == std::string::npos) { // escaped bytes: libopenmpt shows them its own way
            EXPECT_EQ(Trimmed(ours["title"]), Trimmed(title));
        }
        openmpt_free_string(title);
        EXPECT_EQ(ours["channels"], std::to_string(openmpt_module_get_num_channels(m)));
        EXPECT_EQ(ours["orders"], std::to_string(openmpt_module_get_num_orders(m)));
        int minutes = 0;
        double seconds = -1;
        std::sscanf(ours["length"].c_str(), "%d:%lf", &minutes, &seconds);
        const double difference = std::fabs(60 * minutes + seconds - openmpt_module_get_duration_seconds(m));
        if (OwnTimingRules(path)) {
            std::printf("own timing rules: %s, %s against %.2f s\n", path.c_str(), ours["length"].c_str(),
                        openmpt_module_get_duration_seconds(m));
        } else {
            EXPECT_LE(difference, 0.5) << ours["length"] << " against " << openmpt_module_get_duration_seconds(m);
            largest = std::max(largest, difference);
            ++compared;
        }
        openmpt_module_destroy(m);
    }
    std::printf("%zu modules, %zu lengths compared, largest difference %.2f s\n", modules.size(), compared, largest);
    EXPECT_GE(compared, modules.size() - 5);
}

} // namespace
