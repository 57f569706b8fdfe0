// Stand-alone driver for fuzz targets (functions LLVMFuzzerTestOneInput).
//
// Replays every file of the corpus directories given on the command line,
// then feeds --runs=N inputs made by mutating those files (or random bytes
// when there are none) with a fixed-seed generator, so a run is repeatable.
// Under the sanitizers of the test build any overrun or undefined behaviour
// stops the run with a report; the input that caused it is written to
// fuzz-crash.bin in the working directory first.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) __attribute__((weak));

namespace {

using Bytes = std::vector<uint8_t>;

void saveCrashCandidate(const Bytes &input) {
    std::ofstream out("fuzz-crash.bin", std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(input.data()),
              static_cast<std::streamsize>(input.size()));
}

void runOne(const Bytes &input) {
    saveCrashCandidate(input);
    LLVMFuzzerTestOneInput(input.empty() ? nullptr : input.data(), input.size());
}

Bytes mutate(const Bytes &seed, std::mt19937 &rng) {
    Bytes out = seed;
    std::uniform_int_distribution<int> byte(0, 255);
    int rounds = 1 + static_cast<int>(rng() % 8);
    for (int r = 0; r < rounds; r++) {
        switch (rng() % 7) {
        case 0: // flip a bit
            if (!out.empty()) {
                out[rng() % out.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
            }
            break;
        case 1: // replace a byte
            if (!out.empty()) {
                out[rng() % out.size()] = static_cast<uint8_t>(byte(rng));
            }
            break;
        case 2: // insert bytes
        {
            size_t at = out.empty() ? 0 : rng() % (out.size() + 1);
            size_t n = 1 + rng() % 16;
            for (size_t i = 0; i < n; i++) {
                out.insert(out.begin() + static_cast<long>(at), static_cast<uint8_t>(byte(rng)));
            }
            break;
        }
        case 3: // cut the tail
            if (!out.empty()) {
                out.resize(rng() % out.size());
            }
            break;
        case 4: // duplicate a slice
            if (!out.empty() && out.size() < 65536) {
                size_t from = rng() % out.size();
                size_t n = 1 + rng() % (out.size() - from);
                Bytes slice(out.begin() + static_cast<long>(from),
                            out.begin() + static_cast<long>(from + n));
                out.insert(out.begin() + static_cast<long>(rng() % (out.size() + 1)), slice.begin(),
                           slice.end());
            }
            break;
        case 5: // interesting values
        {
            static const uint8_t c_Interesting[] = {0x00, 0x01, 0x7F, 0x80, 0xFF, 0xC0,
                                                    0xDB, 0xDC, 0xDD, 0x40, 0x44};
            if (!out.empty()) {
                out[rng() % out.size()] = c_Interesting[rng() % sizeof(c_Interesting)];
            }
            break;
        }
        default: // fresh random input
        {
            out.resize(rng() % 512);
            for (auto &b : out) {
                b = static_cast<uint8_t>(byte(rng));
            }
            break;
        }
        }
    }
    return out;
}

} // namespace

int main(int argc, char **argv) {
    if (LLVMFuzzerInitialize != nullptr) {
        LLVMFuzzerInitialize(&argc, &argv);
    }
    long runs = 10000;
    unsigned seed = 12345;
    std::vector<Bytes> corpus;
    for (int i = 1; i < argc; i++) {
        if (strncmp(argv[i], "--runs=", 7) == 0) {
            runs = strtol(argv[i] + 7, nullptr, 10);
        } else if (strncmp(argv[i], "--seed=", 7) == 0) {
            seed = static_cast<unsigned>(strtoul(argv[i] + 7, nullptr, 10));
        } else if (std::filesystem::is_directory(argv[i])) {
            for (const auto &entry : std::filesystem::directory_iterator(argv[i])) {
                if (entry.is_regular_file()) {
                    std::ifstream in(entry.path(), std::ios::binary);
                    corpus.emplace_back(std::istreambuf_iterator<char>(in),
                                        std::istreambuf_iterator<char>());
                }
            }
        }
    }
    for (const Bytes &input : corpus) {
        runOne(input);
    }
    std::mt19937 rng(seed);
    const Bytes empty;
    for (long i = 0; i < runs; i++) {
        const Bytes &base = corpus.empty() ? empty : corpus[rng() % corpus.size()];
        runOne(mutate(base, rng));
    }
    std::remove("fuzz-crash.bin");
    printf("%zu corpus inputs and %ld mutations ran clean\n", corpus.size(), runs);
    return 0;
}
