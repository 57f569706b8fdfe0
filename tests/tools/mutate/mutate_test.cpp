// The planted faults of tstat-mutate: each kind where the code allows it and
// none where a change would not compile or mean nothing, a reproducible
// proportional sample, the equivalence list, and applying a change.
#include "mutate.h"

#include <gtest/gtest.h>
#include <set>
#include <sstream>

namespace {

// Every kind of fault, and every place where none may be planted.
const char *const c_Source = R"src(// a < b && !c in a comment
#include <array>
#define LIMIT(x) ((x) > 3 ? 1 : 0)
/* return 0; a < b */
enum Mode { MODE_A = 1, MODE_B = 2 };
static_assert(sizeof(int) == 4, "int");
constexpr int c_Table[3] = {10, 20, 30};
constexpr int LIMIT_HIGH = 40;
std::array<int, 4> m_Values = {};
bool check(int a, int b) {
    const char *text = "a < b";
    uint8_t buffer[8];
    if (a < b && !flag(a)) {
        relay.set(true);
    }
    x = static_cast<int>(a) >= -1;
    return 0;
}
)src";

struct Expected {
    int line;
    const char *op;
    const char *mutated;
};

constexpr Expected c_Expected[] = {
    {8, "constant", "constexpr int LIMIT_HIGH = 41;"},
    {8, "constant", "constexpr int LIMIT_HIGH = 39;"},
    {13, "relational", "if (a <= b && !flag(a)) {"},
    {13, "logical", "if (a < b || !flag(a)) {"},
    {13, "not", "if (a < b && flag(a)) {"},
    {14, "call", ""},
    {14, "boolean", "relay.set(false);"},
    {16, "relational", "x = static_cast<int>(a) > -1;"},
    {16, "constant", "x = static_cast<int>(a) >= 0;"},
    {16, "constant", "x = static_cast<int>(a) >= -2;"},
    {17, "return", "return -1;"},
    {17, "constant", "return 1;"},
};

TEST(Mutate, PlantsEachKindOnlyWhereTheCodeAllowsIt) {
    std::vector<Mutant> found = findMutants("src/a.cpp", c_Source);
    ASSERT_EQ(found.size(), std::size(c_Expected));
    for (size_t i = 0; i < found.size(); i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(found[i].file, "src/a.cpp");
        EXPECT_EQ(found[i].line, c_Expected[i].line);
        EXPECT_EQ(found[i].op, c_Expected[i].op);
        EXPECT_EQ(found[i].mutated, c_Expected[i].mutated);
    }
    EXPECT_EQ(found[2].original, "if (a < b && !flag(a)) {");
    // Hexadecimal keeps its width and case.
    std::vector<Mutant> hex = findMutants("b.cpp", "int f() { return x & 0x0F; }\n");
    ASSERT_EQ(hex.size(), 2u);
    EXPECT_EQ(hex[0].mutated, "int f() { return x & 0x10; }");
    EXPECT_EQ(hex[1].mutated, "int f() { return x & 0x0E; }");
}

TEST(Mutate, SampleIsReproducibleAndSpreadOverTheFiles) {
    std::vector<Mutant> all;
    for (int i = 0; i < 40; i++) {
        Mutant m;
        m.file = i < 30 ? "big.cpp" : "small.cpp";
        m.line = i;
        all.push_back(m);
    }
    std::vector<size_t> sample = sampleMutants(all, 8, 7);
    ASSERT_EQ(sample.size(), 8u);
    EXPECT_EQ(std::count_if(sample.begin(), sample.end(), [](size_t i) { return i >= 30; }), 2);
    EXPECT_EQ(std::set<size_t>(sample.begin(), sample.end()).size(), 8u);
    EXPECT_TRUE(std::is_sorted(sample.begin(), sample.end()));
    EXPECT_EQ(sampleMutants(all, 8, 7), sample);
    EXPECT_NE(sampleMutants(all, 8, 8), sample);
    EXPECT_EQ(sampleMutants(all, 50, 7).size(), 40u);
}

TEST(Mutate, EquivalenceListAndApplyingAChange) {
    std::istringstream list("# why\n\nsrc/a.cpp:12\tif (a < b) {\tif (a <= b) {\n"
                            "src/a.cpp\tf(x);\t\n");
    std::vector<EquivalentMutant> entries;
    std::string error;
    ASSERT_TRUE(parseEquivalentList(list, entries, error)) << error;
    ASSERT_EQ(entries.size(), 2u);
    Mutant m{"src/a.cpp", 40, 4, "relational", "if (a < b) {", "if (a <= b) {"};
    EXPECT_TRUE(isEquivalent(entries, m));
    m.mutated = "if (a > b) {";
    EXPECT_FALSE(isEquivalent(entries, m));
    EXPECT_TRUE(isEquivalent(entries, Mutant{"src/a.cpp", 3, 4, "call", "f(x);", ""}));
    std::istringstream bad("src/a.cpp only one field\n");
    EXPECT_FALSE(parseEquivalentList(bad, entries, error));
    EXPECT_NE(error.find("line 1"), std::string::npos);

    std::string text = "int f() {\n    if (a < b) {\n        g(x);\n    }\n}\n";
    EXPECT_FALSE(applyMutant(text, 2, "if (a > b) {", "if (a >= b) {"));
    EXPECT_TRUE(applyMutant(text, 2, "if (a < b) {", "if (a <= b) {"));
    EXPECT_TRUE(applyMutant(text, 3, "g(x);", ""));
    EXPECT_EQ(text, "int f() {\n    if (a <= b) {\n\n    }\n}\n");
}

} // namespace
