// The data directory: every listed image exists and loads with SDL_image at
// its listed size, and every image path named in the sources is listed.
#include <SDL.h>
#include <SDL_image.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Listed {
    std::string path;
    int width;
    int height;
};

std::vector<Listed> readList() {
    std::vector<Listed> out;
    std::ifstream in(TSTAT_SOURCE_DIR "/assets/images.tsv");
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::istringstream cols(line);
        Listed l;
        std::string w, h;
        std::getline(cols, l.path, '\t');
        std::getline(cols, w, '\t');
        std::getline(cols, h, '\t');
        l.width = std::stoi(w);
        l.height = std::stoi(h);
        out.push_back(l);
    }
    return out;
}

const std::string c_Data = TSTAT_BUILD_DIR "/data/";

TEST(Assets, EveryListedImageLoadsAtItsSize) {
    std::vector<Listed> list = readList();
    ASSERT_GT(list.size(), 300u);
    for (const Listed &l : list) {
        SDL_Surface *s = IMG_Load((c_Data + l.path).c_str());
        ASSERT_NE(s, nullptr) << l.path << ": " << IMG_GetError();
        EXPECT_EQ(s->w, l.width) << l.path;
        EXPECT_EQ(s->h, l.height) << l.path;
        SDL_FreeSurface(s);
    }
}

// The image paths in the sources (screen tables, image tables) all belong to
// the list, so the data directory holds them.
TEST(Assets, EveryImageNamedInTheSourcesIsListed) {
    std::set<std::string> listed;
    for (const Listed &l : readList()) {
        listed.insert(l.path);
    }
    std::regex quoted("\"(\\./)?(images/[^\"]+\\.png)\"");
    std::vector<fs::path> files;
    for (const auto &entry : fs::recursive_directory_iterator(TSTAT_SOURCE_DIR "/src")) {
        std::string ext = entry.path().extension().string();
        if (entry.is_regular_file() && (ext == ".cpp" || ext == ".h")) {
            files.push_back(entry.path());
        }
    }
    int named = 0;
    for (const fs::path &file : files) {
        std::ifstream in(file);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        for (std::sregex_iterator m(text.begin(), text.end(), quoted), end; m != end; ++m) {
            named++;
            EXPECT_EQ(listed.count((*m)[2]), 1u) << (*m)[2] << " in " << file;
        }
    }
    EXPECT_GT(named, 100);
}

} // namespace
