// tstat-mutate: lists the planted faults of C++ source files (all, or a
// reproducible sample) and applies one of them to a file; scripts/mutation.sh
// drives the builds and tests around it.
#include "mutate.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int EXIT_USAGE = 2;

void usage() {
    fprintf(stderr,
            "usage: tstat-mutate list [--root DIR] [--sample N] [--seed S] [--equivalent FILE]\n"
            "                         PATH...\n"
            "       tstat-mutate apply FILE LINE ORIGINAL MUTATED\n"
            "\n"
            "list: one planted fault a line, tab-separated: file, line, operator, status\n"
            "(run, or equivalent when the equivalence list names it), the original line\n"
            "and the changed line (trimmed; empty when the statement is removed). A PATH\n"
            "is a file or a directory (its .cpp files), relative to --root. --sample N\n"
            "keeps N faults spread over the files in proportion, chosen with the seed\n"
            "(default 1).\n"
            "apply: changes line LINE of FILE, whose text must be ORIGINAL, to MUTATED.\n");
}

bool readText(const std::string &path, std::string &text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        fprintf(stderr, "tstat-mutate: cannot read %s: %s\n", path.c_str(), strerror(errno));
        return false;
    }
    std::ostringstream out;
    out << in.rdbuf();
    text = out.str();
    return true;
}

bool parseNumber(const char *text, uint64_t &value) {
    char *end = nullptr;
    errno = 0;
    value = strtoull(text, &end, 10);
    return errno == 0 && end != text && *end == '\0' && text[0] != '-';
}

// The path as the list shows it: without "./" in front or "/" behind.
std::string tidy(std::string path) {
    while (path.rfind("./", 0) == 0) {
        path.erase(0, 2);
    }
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

// The .cpp files a PATH names, relative to the root, in name order.
bool expand(const std::filesystem::path &root, const std::string &path,
            std::vector<std::string> &files) {
    std::error_code ec;
    std::filesystem::path full = root / path;
    if (std::filesystem::is_regular_file(full, ec)) {
        files.push_back(tidy(path));
        return true;
    }
    if (!std::filesystem::is_directory(full, ec)) {
        fprintf(stderr, "tstat-mutate: no such file or directory: %s\n", full.c_str());
        return false;
    }
    std::vector<std::string> found;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(full, ec)) {
        if (entry.is_regular_file() && entry.path().extension() == ".cpp") {
            found.push_back(tidy(path + "/" + entry.path().lexically_relative(full).string()));
        }
    }
    std::sort(found.begin(), found.end());
    files.insert(files.end(), found.begin(), found.end());
    return true;
}

// What `list` is asked for.
struct ListRequest {
    std::filesystem::path root = ".";
    uint64_t sample = 0;
    bool sampled = false;
    uint64_t seed = 1;
    std::vector<EquivalentMutant> equivalent;
    std::vector<std::string> files;
};

// Reads list's arguments; returns EXIT_SUCCESS or the exit status to end with.
int parseListArguments(int argc, char **argv, ListRequest &r) {
    for (int i = 0; i < argc; i++) {
        std::string arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (arg == "--root" && hasValue) {
            r.root = argv[++i];
        } else if (arg == "--sample" && hasValue) {
            r.sampled = true;
            if (!parseNumber(argv[++i], r.sample)) {
                fprintf(stderr, "tstat-mutate: --sample wants a count, not '%s'\n", argv[i]);
                return EXIT_USAGE;
            }
        } else if (arg == "--seed" && hasValue) {
            if (!parseNumber(argv[++i], r.seed)) {
                fprintf(stderr, "tstat-mutate: --seed wants a number, not '%s'\n", argv[i]);
                return EXIT_USAGE;
            }
        } else if (arg == "--equivalent" && hasValue) {
            std::string text;
            std::string error;
            if (!readText(argv[++i], text)) {
                return EXIT_FAILURE;
            }
            std::istringstream in(text);
            if (!parseEquivalentList(in, r.equivalent, error)) {
                fprintf(stderr, "tstat-mutate: %s: %s\n", argv[i], error.c_str());
                return EXIT_FAILURE;
            }
        } else if (arg.rfind("--", 0) == 0) {
            usage();
            return EXIT_USAGE;
        } else if (!expand(r.root, arg, r.files)) {
            return EXIT_FAILURE;
        }
    }
    if (r.files.empty()) {
        usage();
        return EXIT_USAGE;
    }
    return EXIT_SUCCESS;
}

int list(int argc, char **argv) {
    ListRequest r;
    int status = parseListArguments(argc, argv, r);
    if (status != EXIT_SUCCESS) {
        return status;
    }
    std::vector<Mutant> mutants;
    for (const std::string &file : r.files) {
        if (std::find(r.files.begin(), r.files.end(), file) - r.files.begin() !=
            &file - r.files.data()) {
            continue;
        }
        std::string text;
        if (!readText((r.root / file).string(), text)) {
            return EXIT_FAILURE;
        }
        std::vector<Mutant> found = findMutants(file, text);
        mutants.insert(mutants.end(), found.begin(), found.end());
    }
    std::vector<size_t> chosen =
        sampleMutants(mutants, r.sampled ? r.sample : mutants.size(), r.seed);
    for (size_t i : chosen) {
        const Mutant &m = mutants[i];
        printf("%s\t%d\t%s\t%s\t%s\t%s\n", m.file.c_str(), m.line, m.op.c_str(),
               isEquivalent(r.equivalent, m) ? "equivalent" : "run", m.original.c_str(),
               m.mutated.c_str());
    }
    fprintf(stderr, "tstat-mutate: %zu of %zu planted faults in %zu files\n", chosen.size(),
            mutants.size(), r.files.size());
    return EXIT_SUCCESS;
}

int apply(int argc, char **argv) {
    uint64_t line = 0;
    if (argc != 4 || !parseNumber(argv[1], line) || line == 0) {
        usage();
        return EXIT_USAGE;
    }
    std::string text;
    if (!readText(argv[0], text)) {
        return EXIT_FAILURE;
    }
    if (!applyMutant(text, static_cast<int>(line), argv[2], argv[3])) {
        fprintf(stderr, "tstat-mutate: line %s of %s is not '%s'\n", argv[1], argv[0], argv[2]);
        return EXIT_FAILURE;
    }
    std::ofstream out(argv[0], std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        fprintf(stderr, "tstat-mutate: cannot write %s: %s\n", argv[0], strerror(errno));
        return EXIT_FAILURE;
    }
    return EXIT_SUCCESS;
}

} // namespace

int main(int argc, char **argv) {
    if (argc >= 2 && strcmp(argv[1], "list") == 0) {
        return list(argc - 2, argv + 2);
    }
    if (argc >= 2 && strcmp(argv[1], "apply") == 0) {
        return apply(argc - 2, argv + 2);
    }
    usage();
    return EXIT_USAGE;
}
