// Planted faults for `make mutation`: the small single-line changes of a C++
// source file (a comparison shifted or negated, && for ||, a constant off by
// one, a ! dropped, true for false, a status of success turned into failure,
// a call statement removed), a reproducible sample of them, the list of
// changes known to be equivalent, and applying one change to a file.
//
// The source is read line by line as clang-format lays it out: binary
// operators stand between blanks, template brackets and unary operators
// touch their operand. Comments, string and character literals,
// preprocessor lines, static_asserts, enumerator lists, template arguments,
// array sizes in declarations and the numbers of data tables (braced
// initializers: screen layouts, colours, text tables) are never changed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <string>
#include <vector>

struct Mutant {
    std::string file;     // the path as given
    int line = 0;         // 1-based
    int column = 0;       // 0-based byte offset of the change in the line
    std::string op;       // relational, logical, not, boolean, constant, return, call
    std::string original; // the line without its indentation and trailing blanks
    std::string mutated;  // the changed line, trimmed the same way; empty: the statement removed
};

// Every planted fault of one file's text, in line order, each distinct
// change of a line once.
std::vector<Mutant> findMutants(const std::string &file, const std::string &text);

// Indices of `count` of the mutants (all when there are no more), spread
// over their files in proportion to each file's share and chosen with the
// seed: the same list, count and seed give the same sample. In list order.
std::vector<size_t> sampleMutants(const std::vector<Mutant> &mutants, size_t count, uint64_t seed);

// A change known to be equivalent: no test can tell it from the original.
struct EquivalentMutant {
    std::string file;
    std::string original;
    std::string mutated;
};

// Reads an equivalence list: one change a line, "FILE[:LINE]<TAB>ORIGINAL<TAB>MUTATED"
// (the line number is ignored, so entries survive edits elsewhere in the
// file); blank lines and lines starting with # are comments. False, with a
// message naming the line, on a malformed line.
bool parseEquivalentList(std::istream &in, std::vector<EquivalentMutant> &list, std::string &error);

bool isEquivalent(const std::vector<EquivalentMutant> &list, const Mutant &mutant);

// Replaces line `line` of `text`, whose trimmed content must be `original`,
// by its indentation and `mutated` (an empty `mutated` leaves an empty
// line). False, and `text` unchanged, when the line is not there or differs.
bool applyMutant(std::string &text, int line, const std::string &original,
                 const std::string &mutated);
