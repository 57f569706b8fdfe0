// Planted faults: a tokenizer that keeps the position and spacing of every
// token, a pass that marks where a token sits (code block, braced
// initializer, enumerator list, template arguments, array size,
// static_assert), and one planting function per fault kind.
#include "mutate.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

enum class Kind : uint8_t { Ident, Number, Literal, Punct };

struct Token {
    Kind kind;
    int line;   // 1-based
    int column; // 0-based
    std::string text;
    bool spaceBefore; // a blank or the start of the line before it
    bool spaceAfter;  // a blank or the end of the line after it
    bool lineStart;
    bool lineEnd;
    bool frozen = false; // never changed
    bool table = false;  // inside a braced initializer
    bool code = false;   // inside a code block
};

// Longest first, so that the first match is the token.
constexpr auto c_Puncts = std::to_array<std::string_view>(
    {"<<=", ">>=", "<=>", "->*", "...", "::", "->", "++", "--", "<<", ">>", "<=", ">=", "==",
     "!=",  "&&",  "||",  "+=",  "-=",  "*=", "/=", "%=", "&=", "|=", "^=", ".*", "##", "%:"});

// Keywords that can stand before `name[` when it is an element access, not
// the declaration of an array.
constexpr auto c_IndexingWords = std::to_array<std::string_view>(
    {"return", "case", "throw", "else", "do", "sizeof", "co_return", "co_yield", "delete", "new"});

constexpr auto c_Keywords = std::to_array<std::string_view>({"alignas",
                                                             "alignof",
                                                             "asm",
                                                             "auto",
                                                             "bool",
                                                             "break",
                                                             "case",
                                                             "catch",
                                                             "char",
                                                             "class",
                                                             "const",
                                                             "constexpr",
                                                             "const_cast",
                                                             "continue",
                                                             "decltype",
                                                             "default",
                                                             "delete",
                                                             "do",
                                                             "double",
                                                             "dynamic_cast",
                                                             "else",
                                                             "enum",
                                                             "explicit",
                                                             "extern",
                                                             "false",
                                                             "float",
                                                             "for",
                                                             "friend",
                                                             "goto",
                                                             "if",
                                                             "inline",
                                                             "int",
                                                             "long",
                                                             "mutable",
                                                             "namespace",
                                                             "new",
                                                             "noexcept",
                                                             "nullptr",
                                                             "operator",
                                                             "private",
                                                             "protected",
                                                             "public",
                                                             "reinterpret_cast",
                                                             "return",
                                                             "short",
                                                             "signed",
                                                             "sizeof",
                                                             "static",
                                                             "static_assert",
                                                             "static_cast",
                                                             "struct",
                                                             "switch",
                                                             "template",
                                                             "this",
                                                             "throw",
                                                             "true",
                                                             "try",
                                                             "typedef",
                                                             "union",
                                                             "unsigned",
                                                             "void",
                                                             "while"});

template <size_t N>
bool contains(const std::array<std::string_view, N> &words, std::string_view w) {
    return std::find(words.begin(), words.end(), w) != words.end();
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}
bool isIdentStart(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) || c == '_';
}
bool isIdentChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

// ---- Tokenizer ------------------------------------------------------------------

class Lexer {
  public:
    explicit Lexer(const std::string &text) : m_text(text) {}

    std::vector<Token> run() {
        while (m_pos < m_text.size()) {
            char c = m_text[m_pos];
            if (c == '\n') {
                newLine();
            } else if (isBlank(c)) {
                m_pos++;
            } else if (c == '#' && onlyBlanksBefore()) {
                skipDirective();
            } else if (startsWith("//")) {
                skipToLineEnd();
            } else if (startsWith("/*")) {
                skipBlockComment();
            } else if (isIdentStart(c)) {
                identifier();
            } else if (std::isdigit(static_cast<unsigned char>(c)) ||
                       (c == '.' && m_pos + 1 < m_text.size() &&
                        std::isdigit(static_cast<unsigned char>(m_text[m_pos + 1])))) {
                number();
            } else if (c == '"' || c == '\'') {
                size_t begin = m_pos;
                quoted(c);
                push(Kind::Literal, begin);
            } else {
                punct();
            }
        }
        if (!m_tokens.empty()) {
            m_tokens.back().lineEnd = true;
        }
        return m_tokens;
    }

  private:
    bool startsWith(std::string_view s) const { return m_text.compare(m_pos, s.size(), s) == 0; }

    bool onlyBlanksBefore() const {
        for (size_t i = m_lineBegin; i < m_pos; i++) {
            if (!isBlank(m_text[i])) {
                return false;
            }
        }
        return true;
    }

    void newLine() {
        if (!m_tokens.empty() && m_tokens.back().line == m_line) {
            m_tokens.back().lineEnd = true;
        }
        m_pos++;
        m_line++;
        m_lineBegin = m_pos;
    }

    void skipToLineEnd() {
        while (m_pos < m_text.size() && m_text[m_pos] != '\n') {
            m_pos++;
        }
    }

    // A preprocessor line with its continuation lines.
    void skipDirective() {
        while (m_pos < m_text.size()) {
            skipToLineEnd();
            size_t end = m_pos;
            while (end > m_lineBegin && isBlank(m_text[end - 1])) {
                end--;
            }
            bool continued = end > m_lineBegin && m_text[end - 1] == '\\';
            if (!continued || m_pos >= m_text.size()) {
                return;
            }
            newLine();
        }
    }

    void skipBlockComment() {
        m_pos += 2;
        while (m_pos < m_text.size() && !startsWith("*/")) {
            if (m_text[m_pos] == '\n') {
                newLine();
            } else {
                m_pos++;
            }
        }
        m_pos = std::min(m_pos + 2, m_text.size());
    }

    // A string or character literal from its opening quote, on one line.
    void quoted(char quote) {
        m_pos++;
        while (m_pos < m_text.size() && m_text[m_pos] != '\n') {
            char c = m_text[m_pos++];
            if (c == '\\' && m_pos < m_text.size()) {
                m_pos++;
            } else if (c == quote) {
                return;
            }
        }
    }

    // A raw string literal from its opening quote: R"delim( ... )delim".
    void rawString() {
        size_t open = m_text.find('(', m_pos);
        if (open == std::string::npos) {
            m_pos = m_text.size();
            return;
        }
        std::string close = ")" + m_text.substr(m_pos + 1, open - m_pos - 1) + "\"";
        size_t end = m_text.find(close, open);
        end = end == std::string::npos ? m_text.size() : end + close.size();
        while (m_pos < end) {
            if (m_text[m_pos] == '\n') {
                newLine();
            } else {
                m_pos++;
            }
        }
    }

    void identifier() {
        size_t begin = m_pos;
        while (m_pos < m_text.size() && isIdentChar(m_text[m_pos])) {
            m_pos++;
        }
        std::string_view word(m_text.data() + begin, m_pos - begin);
        char next = m_pos < m_text.size() ? m_text[m_pos] : '\0';
        bool prefix = word == "L" || word == "u" || word == "U" || word == "u8";
        bool rawPrefix =
            word == "R" || word == "LR" || word == "uR" || word == "UR" || word == "u8R";
        if (rawPrefix && next == '"') {
            int line = m_line;
            rawString();
            pushAt(Kind::Literal, begin, line);
        } else if (prefix && (next == '"' || next == '\'')) {
            quoted(next);
            push(Kind::Literal, begin);
        } else {
            push(Kind::Ident, begin);
        }
    }

    // A preprocessing number: digits, letters, dots, digit separators and
    // the sign of an exponent.
    void number() {
        size_t begin = m_pos;
        while (m_pos < m_text.size()) {
            char c = m_text[m_pos];
            char prev = m_text[m_pos - 1];
            bool sign = (c == '+' || c == '-') &&
                        (prev == 'e' || prev == 'E' || prev == 'p' || prev == 'P');
            if (!isIdentChar(c) && c != '.' && c != '\'' && !sign) {
                break;
            }
            m_pos++;
        }
        push(Kind::Number, begin);
    }

    void punct() {
        size_t begin = m_pos;
        size_t length = 1;
        for (std::string_view p : c_Puncts) {
            if (startsWith(p)) {
                length = p.size();
                break;
            }
        }
        m_pos += length;
        push(Kind::Punct, begin);
    }

    void push(Kind kind, size_t begin) { pushAt(kind, begin, m_line); }

    // A token that starts on `line` (a raw string may end on a later one).
    void pushAt(Kind kind, size_t begin, int line) {
        Token t{};
        t.kind = kind;
        t.line = line;
        size_t lineBegin = m_text.rfind('\n', begin == 0 ? 0 : begin - 1);
        lineBegin = (begin == 0 || lineBegin == std::string::npos) ? 0 : lineBegin + 1;
        t.column = static_cast<int>(begin - lineBegin);
        t.text = m_text.substr(begin, m_pos - begin);
        t.spaceBefore = begin == lineBegin || isBlank(m_text[begin - 1]);
        t.spaceAfter = m_pos >= m_text.size() || isBlank(m_text[m_pos]) || m_text[m_pos] == '\n';
        t.lineStart = m_tokens.empty() || m_tokens.back().line != line;
        t.lineEnd = false;
        m_tokens.push_back(t);
    }

    const std::string &m_text;
    size_t m_pos = 0;
    size_t m_lineBegin = 0;
    int m_line = 1;
    std::vector<Token> m_tokens;
};

// ---- Where each token sits ----------------------------------------------------

enum class Brace : uint8_t { Scope, Code, Init, Enum };

bool is(const Token &t, std::string_view text) {
    return t.kind != Kind::Literal && t.kind != Kind::Number && t.text == text;
}

// Freezes tokens[from..] up to the bracket that closes the one at `from`
// (nested ones counted), or up to a token that cannot be inside (`;`, `{`,
// `}`) when the brackets do not close. `>>` closes two angle brackets.
void freezeBracket(std::vector<Token> &tokens, size_t from, std::string_view open,
                   std::string_view close) {
    int depth = 0;
    for (size_t i = from; i < tokens.size(); i++) {
        Token &t = tokens[i];
        if (t.kind == Kind::Punct && (t.text == ";" || t.text == "{" || t.text == "}")) {
            return;
        }
        t.frozen = true;
        if (t.kind != Kind::Punct) {
            continue;
        }
        if (t.text == open) {
            depth++;
        } else if (t.text == close) {
            depth--;
        } else if (close == ">" && t.text == ">>") {
            depth -= 2;
        }
        if (depth <= 0) {
            return;
        }
    }
}

// `<` opening template arguments: clang-format writes it against the name
// before it, while a comparison has blanks on both sides.
bool opensTemplate(const std::vector<Token> &tokens, size_t i) {
    return is(tokens[i], "<") && i > 0 && tokens[i - 1].kind == Kind::Ident &&
           !(tokens[i].spaceBefore && tokens[i].spaceAfter);
}

// `[` of an array declarator: `type name[`, `type *name[`, `array<..> name[`.
bool opensArraySize(const std::vector<Token> &tokens, size_t i) {
    if (!is(tokens[i], "[") || i < 2 || tokens[i - 1].kind != Kind::Ident) {
        return false;
    }
    const Token &before = tokens[i - 2];
    if (before.kind == Kind::Ident) {
        return !contains(c_IndexingWords, before.text);
    }
    if ((is(before, "*") || is(before, "&")) && !before.spaceAfter && i >= 3) {
        return tokens[i - 3].kind == Kind::Ident || is(tokens[i - 3], ">");
    }
    return is(before, ">");
}

Brace braceKind(const std::vector<Token> &tokens, size_t i, const std::vector<Brace> &stack,
                bool sawEnum, bool sawScope, bool sawAssign) {
    static constexpr auto c_BodyAfter = std::to_array<std::string_view>(
        {")", "else", "do", "try", "const", "noexcept", "override", "mutable"});
    Brace outer = stack.empty() ? Brace::Scope : stack.back();
    if (i == 0) {
        return Brace::Scope;
    }
    const Token &prev = tokens[i - 1];
    if (prev.kind == Kind::Punct || prev.kind == Kind::Ident) {
        if (contains(c_BodyAfter, prev.text)) {
            return Brace::Code;
        }
        if (is(prev, "]")) {
            return Brace::Code; // a lambda's body
        }
    }
    if (sawEnum && !sawAssign) {
        return Brace::Enum;
    }
    if (sawScope && !sawAssign) {
        return Brace::Scope;
    }
    if (is(prev, ";") || is(prev, "{") || is(prev, "}") || is(prev, ":")) {
        return outer == Brace::Enum ? Brace::Init : outer;
    }
    return Brace::Init;
}

// The brace a token is in, scopes (namespaces, types) looked through.
Brace innermost(const std::vector<Brace> &stack) {
    for (auto it = stack.rbegin(); it != stack.rend(); ++it) {
        if (*it != Brace::Scope) {
            return *it;
        }
    }
    return Brace::Scope;
}

// What the tokens since the last ; { or } said about the next brace.
struct Seen {
    bool enumWord = false;
    bool scope = false;
    bool assign = false;
};

// A word: the keywords that say what the next brace opens, static_assert
// (frozen with its arguments) and an operator's symbol (frozen).
void markWord(std::vector<Token> &tokens, size_t i, Seen &seen) {
    Token &t = tokens[i];
    if (t.text == "enum") {
        seen.enumWord = true;
    } else if (t.text == "namespace" || t.text == "struct" || t.text == "class" ||
               t.text == "union" || t.text == "extern") {
        seen.scope = true;
    } else if (t.text == "static_assert") {
        t.frozen = true;
        if (i + 1 < tokens.size()) {
            freezeBracket(tokens, i + 1, "(", ")");
        }
    } else if (t.text == "operator" && i + 1 < tokens.size()) {
        tokens[i + 1].frozen = true;
    }
}

void markContext(std::vector<Token> &tokens) {
    std::vector<Brace> stack;
    Seen seen;
    bool arrayDeclarator = false; // the last `]` closed an array size
    for (size_t i = 0; i < tokens.size(); i++) {
        Token &t = tokens[i];
        Brace inner = innermost(stack);
        if (inner == Brace::Enum) {
            t.frozen = true;
        }
        t.code = inner == Brace::Code;
        t.table = inner == Brace::Init;
        if (t.kind == Kind::Ident) {
            markWord(tokens, i, seen);
        }
        if (t.kind != Kind::Punct) {
            arrayDeclarator = false;
            continue;
        }
        if (opensTemplate(tokens, i)) {
            freezeBracket(tokens, i, "<", ">");
        } else if (opensArraySize(tokens, i) || (is(t, "[") && arrayDeclarator)) {
            freezeBracket(tokens, i, "[", "]");
        }
        if (is(t, "]")) {
            arrayDeclarator = t.frozen;
            continue;
        }
        arrayDeclarator = false;
        if (t.text == "=") {
            seen.assign = true;
        } else if (t.text == "{") {
            stack.push_back(braceKind(tokens, i, stack, seen.enumWord, seen.scope, seen.assign));
            seen = Seen{};
        } else if (t.text == "}") {
            if (!stack.empty()) {
                stack.pop_back();
            }
            seen = Seen{};
        } else if (t.text == ";") {
            seen = Seen{};
        }
    }
}

// ---- Planting ---------------------------------------------------------------

// One change of a line: `length` bytes at `column` become `replacement`.
struct Change {
    int column;
    int length;
    std::string replacement;
};

using Changes = std::vector<Change>;
using Planter = void (*)(const std::vector<Token> &tokens, size_t i, Changes &out);

Change replaceToken(const Token &t, std::string replacement) {
    return {t.column, static_cast<int>(t.text.size()), std::move(replacement)};
}

// An operator between blanks (or at a line end, where clang-format breaks
// after a binary operator).
bool binary(const Token &t) {
    return t.kind == Kind::Punct && t.spaceBefore && t.spaceAfter;
}

void plantRelational(const std::vector<Token> &tokens, size_t i, Changes &out) {
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 6> c_Flips = {
        {{"<", "<="}, {"<=", "<"}, {">", ">="}, {">=", ">"}, {"==", "!="}, {"!=", "=="}}};
    const Token &t = tokens[i];
    if (!binary(t)) {
        return;
    }
    for (const auto &[from, to] : c_Flips) {
        if (t.text == from) {
            out.push_back(replaceToken(t, std::string(to)));
        }
    }
}

void plantLogical(const std::vector<Token> &tokens, size_t i, Changes &out) {
    const Token &t = tokens[i];
    if (binary(t) && (t.text == "&&" || t.text == "||")) {
        out.push_back(replaceToken(t, t.text == "&&" ? "||" : "&&"));
    }
}

void plantNot(const std::vector<Token> &tokens, size_t i, Changes &out) {
    const Token &t = tokens[i];
    if (is(t, "!") && !t.spaceAfter) {
        out.push_back(replaceToken(t, ""));
    }
}

void plantBoolean(const std::vector<Token> &tokens, size_t i, Changes &out) {
    const Token &t = tokens[i];
    if (is(t, "true") || is(t, "false")) {
        out.push_back(replaceToken(t, t.text == "true" ? "false" : "true"));
    }
}

// An integer literal: its base, its digits' value and width, its case and
// its suffix. False for floating literals, digit separators and
// user-defined suffixes.
struct Integer {
    int base;
    uint64_t value;
    size_t width;
    bool upper;
    std::string prefix;
    std::string suffix;
};

bool parseInteger(const std::string &text, Integer &n) {
    size_t pos = 0;
    n.base = 10;
    n.prefix.clear();
    if (text.size() > 1 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        n.base = 16;
        pos = 2;
    } else if (text.size() > 1 && text[0] == '0' && (text[1] == 'b' || text[1] == 'B')) {
        n.base = 2;
        pos = 2;
    } else if (text.size() > 1 && text[0] == '0' &&
               std::isdigit(static_cast<unsigned char>(text[1]))) {
        n.base = 8;
        pos = 1;
    }
    n.prefix = text.substr(0, pos);
    size_t digits = pos;
    n.value = 0;
    n.upper = false;
    while (digits < text.size()) {
        char c = text[digits];
        int d = -1;
        if (std::isdigit(static_cast<unsigned char>(c))) {
            d = c - '0';
        } else if (n.base == 16 && std::isxdigit(static_cast<unsigned char>(c))) {
            d = std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
            n.upper = n.upper || std::isupper(static_cast<unsigned char>(c));
        }
        if (d < 0) {
            break;
        }
        if (d >= n.base || n.value > (UINT64_MAX - static_cast<uint64_t>(d)) / 16) {
            return false;
        }
        n.value = n.value * static_cast<uint64_t>(n.base) + static_cast<uint64_t>(d);
        digits++;
    }
    n.width = digits - pos;
    n.suffix = text.substr(digits);
    if (n.width == 0 && n.base != 8) {
        return false;
    }
    return std::all_of(n.suffix.begin(), n.suffix.end(), [](char c) {
        return c == 'u' || c == 'U' || c == 'l' || c == 'L' || c == 'z' || c == 'Z';
    });
}

std::string formatInteger(const Integer &n, uint64_t value) {
    std::string digits;
    do {
        int d = static_cast<int>(value % static_cast<uint64_t>(n.base));
        digits.insert(digits.begin(),
                      static_cast<char>(d < 10 ? '0' + d : (n.upper ? 'A' : 'a') + d - 10));
        value /= static_cast<uint64_t>(n.base);
    } while (value != 0);
    if (n.base == 16 || n.base == 2) {
        while (digits.size() < n.width) {
            digits.insert(digits.begin(), '0');
        }
    }
    if (n.base == 8 && digits != "0") {
        digits.insert(digits.begin(), '0');
        return digits + n.suffix;
    }
    return n.prefix + digits + n.suffix;
}

// `-` written against a number where an operand is expected: a negative literal.
bool unaryMinus(const std::vector<Token> &tokens, size_t i) {
    if (i == 0 || !is(tokens[i - 1], "-") || tokens[i - 1].spaceAfter ||
        tokens[i - 1].line != tokens[i].line) {
        return false;
    }
    if (i < 2) {
        return true;
    }
    const Token &before = tokens[i - 2];
    if (before.kind == Kind::Ident) {
        return before.text == "return" || before.text == "case";
    }
    return before.kind == Kind::Punct && !is(before, ")") && !is(before, "]");
}

void plantConstant(const std::vector<Token> &tokens, size_t i, Changes &out) {
    const Token &t = tokens[i];
    Integer n;
    if (t.kind != Kind::Number || t.table || !parseInteger(t.text, n)) {
        return;
    }
    if (n.value > 0 && unaryMinus(tokens, i)) {
        // -v becomes -(v - 1) and -(v + 1); the sign goes with a zero.
        const Token &minus = tokens[i - 1];
        int length = t.column + static_cast<int>(t.text.size()) - minus.column;
        std::string smaller = formatInteger(n, n.value - 1);
        out.push_back({minus.column, length, n.value == 1 ? smaller : "-" + smaller});
        out.push_back({minus.column, length, "-" + formatInteger(n, n.value + 1)});
        return;
    }
    out.push_back(replaceToken(t, formatInteger(n, n.value + 1)));
    if (n.value > 0) {
        out.push_back(replaceToken(t, formatInteger(n, n.value - 1)));
    }
}

// `return 0;` (success of a status) becomes `return -1;` (failure).
void plantReturn(const std::vector<Token> &tokens, size_t i, Changes &out) {
    const Token &t = tokens[i];
    if (is(t, "return") && i + 2 < tokens.size() && tokens[i + 1].kind == Kind::Number &&
        tokens[i + 1].text == "0" && is(tokens[i + 2], ";") && !tokens[i + 1].frozen) {
        out.push_back(replaceToken(tokens[i + 1], "-1"));
    }
}

// A statement of its own line that only calls a function: `f(x);`,
// `ns::f(x);`, `obj.f(x);`, `p->f(x);`. Removed whole.
void plantCall(const std::vector<Token> &tokens, size_t i, Changes &out) {
    const Token &t = tokens[i];
    if (!t.lineStart || !t.code || t.kind != Kind::Ident || contains(c_Keywords, t.text)) {
        return;
    }
    if (i > 0) {
        const Token &prev = tokens[i - 1];
        if (!(is(prev, ";") || is(prev, "{") || is(prev, "}") || is(prev, ":"))) {
            return;
        }
    }
    size_t j = i;
    while (j + 2 < tokens.size() &&
           (is(tokens[j + 1], "::") || is(tokens[j + 1], ".") || is(tokens[j + 1], "->")) &&
           tokens[j + 2].kind == Kind::Ident && tokens[j + 2].line == t.line) {
        j += 2;
    }
    if (j + 1 >= tokens.size() || !is(tokens[j + 1], "(") || tokens[j + 1].line != t.line) {
        return;
    }
    int depth = 0;
    size_t k = j + 1;
    for (; k < tokens.size() && tokens[k].line == t.line; k++) {
        if (is(tokens[k], "(")) {
            depth++;
        } else if (is(tokens[k], ")") && --depth == 0) {
            break;
        }
    }
    if (k + 1 >= tokens.size() || depth != 0 || !is(tokens[k + 1], ";") ||
        tokens[k + 1].line != t.line || !tokens[k + 1].lineEnd) {
        return;
    }
    out.push_back({t.column, tokens[k + 1].column + 1 - t.column, ""});
}

struct Operator {
    const char *name;
    Planter plant;
};

constexpr std::array<Operator, 7> c_Operators = {{
    {"relational", plantRelational},
    {"logical", plantLogical},
    {"not", plantNot},
    {"boolean", plantBoolean},
    {"constant", plantConstant},
    {"return", plantReturn},
    {"call", plantCall},
}};

std::string normalise(std::string_view s) {
    size_t begin = 0;
    size_t end = s.size();
    while (begin < end && isBlank(s[begin])) {
        begin++;
    }
    while (end > begin && isBlank(s[end - 1])) {
        end--;
    }
    std::string out(s.substr(begin, end - begin));
    std::replace(out.begin(), out.end(), '\t', ' ');
    return out;
}

std::vector<std::string_view> splitLines(const std::string &text) {
    std::vector<std::string_view> lines;
    size_t begin = 0;
    while (begin <= text.size()) {
        size_t end = text.find('\n', begin);
        if (end == std::string::npos) {
            if (begin < text.size()) {
                lines.emplace_back(text.data() + begin, text.size() - begin);
            }
            break;
        }
        lines.emplace_back(text.data() + begin, end - begin);
        begin = end + 1;
    }
    return lines;
}

uint64_t splitMix64(uint64_t &state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

} // namespace

std::vector<Mutant> findMutants(const std::string &file, const std::string &text) {
    std::vector<Token> tokens = Lexer(text).run();
    markContext(tokens);
    std::vector<std::string_view> lines = splitLines(text);
    std::vector<Mutant> mutants;
    for (size_t i = 0; i < tokens.size(); i++) {
        const Token &t = tokens[i];
        if (t.frozen || t.kind == Kind::Literal || static_cast<size_t>(t.line) > lines.size()) {
            continue;
        }
        std::string_view line = lines[static_cast<size_t>(t.line - 1)];
        for (const Operator &op : c_Operators) {
            Changes changes;
            op.plant(tokens, i, changes);
            for (const Change &c : changes) {
                std::string changed(line);
                changed.replace(static_cast<size_t>(c.column), static_cast<size_t>(c.length),
                                c.replacement);
                Mutant m;
                m.file = file;
                m.line = t.line;
                m.column = c.column;
                m.op = op.name;
                m.original = normalise(line);
                m.mutated = normalise(changed);
                bool seen = std::any_of(mutants.begin(), mutants.end(), [&](const Mutant &o) {
                    return o.line == m.line && o.mutated == m.mutated;
                });
                if (!seen && m.mutated != m.original) {
                    mutants.push_back(std::move(m));
                }
            }
        }
    }
    std::stable_sort(mutants.begin(), mutants.end(), [](const Mutant &a, const Mutant &b) {
        return a.line != b.line ? a.line < b.line : a.column < b.column;
    });
    return mutants;
}

std::vector<size_t> sampleMutants(const std::vector<Mutant> &mutants, size_t count, uint64_t seed) {
    std::vector<size_t> chosen;
    if (count >= mutants.size()) {
        for (size_t i = 0; i < mutants.size(); i++) {
            chosen.push_back(i);
        }
        return chosen;
    }
    // The files in list order, each with its mutants' indices.
    std::vector<std::vector<size_t>> files;
    std::vector<std::string> names;
    for (size_t i = 0; i < mutants.size(); i++) {
        auto it = std::find(names.begin(), names.end(), mutants[i].file);
        if (it == names.end()) {
            names.push_back(mutants[i].file);
            files.emplace_back();
            it = names.end() - 1;
        }
        files[static_cast<size_t>(it - names.begin())].push_back(i);
    }
    // Each file's whole share, then the remaining picks to the largest
    // remainders (the earlier file on a tie).
    std::vector<size_t> quota(files.size());
    std::vector<std::pair<uint64_t, size_t>> remainders;
    size_t given = 0;
    for (size_t f = 0; f < files.size(); f++) {
        uint64_t scaled = static_cast<uint64_t>(count) * files[f].size();
        quota[f] = static_cast<size_t>(scaled / mutants.size());
        given += quota[f];
        remainders.emplace_back(scaled % mutants.size(), f);
    }
    std::stable_sort(remainders.begin(), remainders.end(),
                     [](const auto &a, const auto &b) { return a.first > b.first; });
    for (size_t r = 0; given < count && r < remainders.size(); r++, given++) {
        quota[remainders[r].second]++;
    }
    uint64_t state = seed;
    for (size_t f = 0; f < files.size(); f++) {
        std::vector<size_t> &pool = files[f];
        for (size_t k = 0; k < quota[f]; k++) {
            size_t pick = k + static_cast<size_t>(splitMix64(state) % (pool.size() - k));
            std::swap(pool[k], pool[pick]);
            chosen.push_back(pool[k]);
        }
    }
    std::sort(chosen.begin(), chosen.end());
    return chosen;
}

bool parseEquivalentList(std::istream &in, std::vector<EquivalentMutant> &list,
                         std::string &error) {
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        number++;
        if (normalise(line).empty() || normalise(line)[0] == '#') {
            continue;
        }
        size_t first = line.find('\t');
        size_t second = first == std::string::npos ? first : line.find('\t', first + 1);
        if (second == std::string::npos || line.find('\t', second + 1) != std::string::npos) {
            error = "line " + std::to_string(number) + ": expected FILE<TAB>ORIGINAL<TAB>MUTATED";
            return false;
        }
        EquivalentMutant e;
        e.file = line.substr(0, first);
        size_t colon = e.file.rfind(':');
        if (colon != std::string::npos && colon + 1 < e.file.size() &&
            std::all_of(e.file.begin() + static_cast<std::ptrdiff_t>(colon) + 1, e.file.end(),
                        [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
            e.file.resize(colon);
        }
        e.original = normalise(std::string_view(line).substr(first + 1, second - first - 1));
        e.mutated = normalise(std::string_view(line).substr(second + 1));
        list.push_back(std::move(e));
    }
    return true;
}

bool isEquivalent(const std::vector<EquivalentMutant> &list, const Mutant &mutant) {
    return std::any_of(list.begin(), list.end(), [&](const EquivalentMutant &e) {
        return e.file == mutant.file && e.original == mutant.original &&
               e.mutated == mutant.mutated;
    });
}

bool applyMutant(std::string &text, int line, const std::string &original,
                 const std::string &mutated) {
    size_t begin = 0;
    for (int n = 1; n < line; n++) {
        begin = text.find('\n', begin);
        if (begin == std::string::npos) {
            return false;
        }
        begin++;
    }
    if (line < 1 || begin >= text.size()) {
        return false;
    }
    size_t end = text.find('\n', begin);
    end = end == std::string::npos ? text.size() : end;
    std::string_view current(text.data() + begin, end - begin);
    if (normalise(current) != normalise(original)) {
        return false;
    }
    size_t indent = 0;
    while (indent < current.size() && isBlank(current[indent])) {
        indent++;
    }
    std::string replacement =
        mutated.empty() ? std::string() : std::string(current.substr(0, indent)) + mutated;
    text.replace(begin, end - begin, replacement);
    return true;
}
