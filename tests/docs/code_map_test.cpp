// docs/code.md, the map of the code, against the tree: every path it names
// exists; every library its layer paragraphs name is one the CMake files
// declare, and every declared one is named; each chain `a` < `b` runs the
// way the BELOW lists link (no lower library links a higher one) and each
// "above" or "below it only" it states is a link; its folder table lists
// every folder of src/ bottom to top as the layers stack.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const fs::path c_Top = TSTAT_SOURCE_DIR;
// Where the code's own headers are included from.
const char *const c_IncludeRoots[] = {"", "src", "sim", "lib"};
const char *const c_CodeFolders[] = {"src", "sim", "lib", "tools", "tests"};

// Every file of the code's folders (not the browser test's packages).
std::vector<fs::path> codeFiles() {
    std::vector<fs::path> files;
    for (const char *folder : c_CodeFolders) {
        for (auto it = fs::recursive_directory_iterator(c_Top / folder);
             it != fs::recursive_directory_iterator(); ++it) {
            if (it->path().filename() == "node_modules") {
                it.disable_recursion_pending();
            } else if (it->is_regular_file()) {
                files.push_back(it->path());
            }
        }
    }
    return files;
}

std::string readFile(const fs::path &path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Every library of tstat_add_subsystem and tstat_add_host_library, by its
// name after tstat_, with the libraries it links directly (a subsystem links
// platform besides its BELOW list), and platform, a plain library at the
// bottom.
using Links = std::map<std::string, std::set<std::string>>;

Links declaredLibraries() {
    static const std::regex call(R"re(tstat_add_(subsystem|host_library)\(\s*(\w+)([^)]*)\))re");
    Links links{{"platform", {}}};
    for (const fs::path &file : codeFiles()) {
        if (file.filename() != "CMakeLists.txt") {
            continue;
        }
        std::string text = readFile(file);
        for (std::sregex_iterator it(text.begin(), text.end(), call), end; it != end; ++it) {
            std::set<std::string> below;
            if ((*it)[1] == "subsystem" && (*it)[2] != "platform") {
                below.insert("platform");
            }
            std::istringstream words((*it)[3].str());
            bool listing = false;
            for (std::string word; words >> word;) {
                bool keyword =
                    word == "BELOW" || word == "SOURCES" || word == "INCLUDE" || word == "DEPS";
                if (keyword) {
                    listing = word == "BELOW";
                } else if (listing) {
                    below.insert(word);
                }
            }
            links[(*it)[2]] = below;
        }
    }
    return links;
}

// Whether upper links lower, directly or through others.
bool sitsOn(const Links &links, const std::string &upper, const std::string &lower) {
    auto found = links.find(upper);
    if (found == links.end()) {
        return false;
    }
    return std::any_of(found->second.begin(), found->second.end(), [&](const std::string &next) {
        return next == lower || sitsOn(links, next, lower);
    });
}

// The library a name of the map stands for: `host` and `tstat_host` alike.
std::string libraryOf(const std::string &name) {
    return name.rfind("tstat_", 0) == 0 ? name.substr(6) : name;
}

// The paragraphs of docs/code.md that begin with **Layers.**, each on one line.
std::vector<std::string> layerParagraphs() {
    std::istringstream doc(readFile(c_Top / "docs/code.md"));
    std::vector<std::string> paragraphs;
    std::string current;
    for (std::string line;;) {
        bool more = static_cast<bool>(std::getline(doc, line));
        if (!more || line.empty()) {
            if (current.rfind("**Layers.**", 0) == 0) {
                paragraphs.push_back(current);
            }
            current.clear();
        } else {
            current += (current.empty() ? "" : " ") + line;
        }
        if (!more) {
            return paragraphs;
        }
    }
}

// The text outside parentheses, and each parenthesis with the name in
// backquotes right before it.
struct Parsed {
    std::string outside;
    std::vector<std::pair<std::string, std::string>> asides;
};

Parsed parse(const std::string &text) {
    static const std::regex nameBefore(R"re(`(\w+)`\s*$)re");
    Parsed parsed;
    int depth = 0;
    std::string aside;
    std::string owner;
    for (char c : text) {
        if (c == '(' && depth++ == 0) {
            std::smatch m;
            owner = std::regex_search(parsed.outside, m, nameBefore) ? m[1].str() : "";
            aside.clear();
        } else if (c == ')' && depth > 0 && --depth == 0) {
            parsed.asides.emplace_back(owner, aside);
        } else if (depth == 0) {
            parsed.outside += c;
        } else {
            aside += c;
        }
    }
    return parsed;
}

// The chains `a` < `b` < ... of a text.
std::vector<std::vector<std::string>> chainsOf(const std::string &text) {
    static const std::regex link(R"re(`(\w+)`\s*<\s*(?=`(\w+)`))re");
    std::vector<std::vector<std::string>> chains;
    size_t lastEnd = std::string::npos;
    for (std::sregex_iterator it(text.begin(), text.end(), link), end; it != end; ++it) {
        if (static_cast<size_t>(it->position()) != lastEnd) {
            chains.push_back({(*it)[1]});
        }
        chains.back().push_back((*it)[2]);
        lastEnd = static_cast<size_t>(it->position() + it->length());
    }
    return chains;
}

std::vector<std::string> namesIn(const std::string &text) {
    static const std::regex name(R"re(`(\w+)`)re");
    std::vector<std::string> names;
    for (std::sregex_iterator it(text.begin(), text.end(), name), end; it != end; ++it) {
        names.push_back((*it)[1]);
    }
    return names;
}

TEST(CodeMap, EveryPathItNamesExists) {
    static const std::regex quoted(R"re(`"?([^`"]+)"?`)re");
    static const std::regex path(R"re((src|sim|lib|tools|tests|packaging|scripts|docs|examples))re"
                                 R"re((/[\w.-]*)*|[\w./-]+\.(cpp|h|md|sh|txt|cmake))re");
    std::set<std::string> names;
    for (const fs::path &file : codeFiles()) {
        names.insert(file.filename());
    }
    std::string doc = readFile(c_Top / "docs/code.md");
    int checked = 0;
    for (std::sregex_iterator it(doc.begin(), doc.end(), quoted), end; it != end; ++it) {
        std::string token = (*it)[1];
        if (token[0] == '/' || !std::regex_match(token, path)) {
            continue;
        }
        checked++;
        // A file name alone names a file anywhere in the code.
        bool found = token.find('/') == std::string::npos && names.count(token) != 0;
        for (const char *root : c_IncludeRoots) {
            found = found || fs::exists(c_Top / root / token);
        }
        EXPECT_TRUE(found) << token;
    }
    EXPECT_GT(checked, 30);
}

TEST(CodeMap, LayersFollowTheBelowLists) {
    static const std::regex above(R"re(\babove((?:(?:\s|,|and)*`\w+`)+))re");
    static const std::regex only(R"re(below it only `(\w+)`)re");
    static const std::regex standsAbove(R"re(`(\w+)`\s+stands above\s+`(\w+)`)re");
    Links links = declaredLibraries();
    std::set<std::string> named;
    std::vector<std::string> paragraphs = layerParagraphs();
    ASSERT_EQ(paragraphs.size(), 2u);
    for (const std::string &paragraph : paragraphs) {
        Parsed parsed = parse(paragraph);
        auto chains = chainsOf(parsed.outside);
        EXPECT_FALSE(chains.empty()) << paragraph.substr(0, 60);
        for (const auto &chain : chains) {
            for (size_t i = 0; i < chain.size(); i++) {
                std::string lower = libraryOf(chain[i]);
                EXPECT_TRUE(links.count(lower)) << chain[i] << " is not a library";
                for (size_t j = i + 1; j < chain.size(); j++) {
                    EXPECT_FALSE(sitsOn(links, lower, libraryOf(chain[j])))
                        << chain[i] << " links " << chain[j] << ", said to be above it";
                }
            }
        }
        for (const auto &[owner, aside] : parsed.asides) {
            std::smatch m;
            if (std::regex_search(aside, m, above)) {
                for (const std::string &lower : namesIn(m[1])) {
                    EXPECT_TRUE(sitsOn(links, libraryOf(owner), libraryOf(lower)))
                        << owner << " is said to be above " << lower;
                }
            }
            if (std::regex_search(aside, m, only)) {
                EXPECT_EQ(links[libraryOf(owner)], std::set<std::string>{libraryOf(m[1])}) << owner;
            }
        }
        std::smatch m;
        for (auto at = parsed.outside.cbegin();
             std::regex_search(at, parsed.outside.cend(), m, standsAbove); at = m[0].second) {
            EXPECT_TRUE(sitsOn(links, libraryOf(m[1]), libraryOf(m[2])))
                << m[1] << " is said to stand above " << m[2];
        }
        for (const std::string &name : namesIn(paragraph)) {
            named.insert(libraryOf(name));
        }
    }
    for (const auto &library : links) {
        EXPECT_TRUE(named.count(library.first)) << "tstat_" << library.first << " is not named";
    }
}

TEST(CodeMap, FolderTableListsSrcBottomToTop) {
    static const std::regex row(R"re(\n\| `src/(\w+)` \|)re");
    std::string doc = readFile(c_Top / "docs/code.md");
    std::vector<std::string> rows;
    for (std::sregex_iterator it(doc.begin(), doc.end(), row), end; it != end; ++it) {
        rows.push_back((*it)[1] == "app" ? "startup" : (*it)[1].str());
    }
    // The subsystem libraries come in layer order; a program of its own that
    // links none of them (the installer) may follow.
    Links links = declaredLibraries();
    std::vector<std::string> subsystems;
    std::copy_if(rows.begin(), rows.end(), std::back_inserter(subsystems),
                 [&](const std::string &name) { return links.count(name) != 0; });
    std::vector<std::string> layers = chainsOf(parse(layerParagraphs().at(0)).outside).at(0);
    ASSERT_EQ(subsystems, layers);
    EXPECT_EQ(std::vector<std::string>(rows.begin(), rows.begin() + layers.size()), layers);
    std::set<std::string> folders;
    for (const auto &entry : fs::directory_iterator(c_Top / "src")) {
        if (entry.is_directory()) {
            folders.insert(entry.path().filename() == "app" ? "startup"
                                                            : entry.path().filename().string());
        }
    }
    EXPECT_EQ(folders, std::set<std::string>(rows.begin(), rows.end()));
}

} // namespace
