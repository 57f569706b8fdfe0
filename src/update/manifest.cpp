// Reading and writing the MANIFEST's lines, the rule for names in a bundle,
// and the escaping of what a bundle names before it is printed.
#include "manifest.h"

#include "bundle.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

// "# security: N", N a decimal of at most nine digits.
bool parseSecurity(const std::string &value, uint32_t *out) {
    if (value.empty() || value.size() > 9 ||
        value.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    *out = static_cast<uint32_t>(strtoul(value.c_str(), nullptr, 10));
    return true;
}

// One comment line into m; false when it is a known key of the wrong form.
bool commentLine(const std::string &line, Manifest *m) {
    auto value = [&](const char *key) {
        std::string k = std::string("# ") + key + ": ";
        return line.compare(0, k.size(), k) == 0 ? line.substr(k.size()) : std::string("\n");
    };
    std::string v;
    if ((v = value("security")) != "\n") {
        m->hasSecurity = parseSecurity(v, &m->security);
        return m->hasSecurity;
    }
    if ((v = value("directory")) != "\n") {
        return v != "opt/tstat" && nameRule(v, true).empty() && m->directories.insert(v).second;
    }
    if ((v = value("mode")) != "\n") {
        std::string name = v.substr(std::min<size_t>(5, v.size()));
        bool known = v.compare(0, 5, "0755 ") == 0 || v.compare(0, 5, "0644 ") == 0;
        if (!known || m->files.count(name) == 0) {
            return false;
        }
        if (v[1] == '7') {
            m->executables.insert(name);
        }
        return true;
    }
    if ((v = value("version")) != "\n" && m->version.empty()) {
        m->version = v;
    } else if ((v = value("target")) != "\n" && m->target.empty()) {
        m->target = v;
    }
    return true;
}

bool fileLine(const std::string &line, Manifest *m, std::string *why, size_t lineNo) {
    Sha256 sha;
    std::string name = line.size() > 66 ? line.substr(66) : "";
    if (line.size() < 67 || line.compare(64, 2, "  ") != 0 ||
        !fromHex(line.substr(0, 64), sha.data(), sha.size()) || !nameRule(name, false).empty() ||
        name == UPDATE_MANIFEST || name == UPDATE_SIGNATURE) {
        *why = "MANIFEST line " + std::to_string(lineNo) + " is not \"<SHA-256>  " + UPDATE_PREFIX +
               "<file>\"";
        return false;
    }
    if (!m->files.emplace(name, sha).second) {
        *why = "MANIFEST lists " + name + " twice";
        return false;
    }
    return true;
}

} // namespace

bool parseManifest(const std::string &text, Manifest *m, std::string *why) {
    *m = Manifest{};
    // The file lines first: a mode line names a file listed anywhere.
    for (int pass = 0; pass < 2; pass++) {
        size_t lineNo = 0;
        for (size_t at = 0; at < text.size();) {
            size_t end = std::min(text.find('\n', at), text.size());
            std::string line = text.substr(at, end - at);
            at = end + 1;
            lineNo++;
            bool comment = line.empty() || line[0] == '#';
            if (pass == 0 && !comment && !fileLine(line, m, why, lineNo)) {
                return false;
            }
            if (pass == 1 && comment && !line.empty() && !commentLine(line, m)) {
                *why = "MANIFEST line " + std::to_string(lineNo) + " is not a valid \"" +
                       line.substr(0, line.find(':') + 1) + "\" line";
                return false;
            }
        }
    }
    return true;
}

std::string manifestField(const std::string &text, const std::string &key) {
    const std::string k = "# " + key + ": ";
    for (size_t at = 0; at < text.size();) {
        size_t end = std::min(text.find('\n', at), text.size());
        if (text.compare(at, k.size(), k) == 0) {
            return text.substr(at + k.size(), end - at - k.size());
        }
        at = end + 1;
    }
    return "";
}

std::string withField(const std::string &text, const std::string &key, const std::string &value) {
    const std::string k = "# " + key + ": ";
    size_t at = text.rfind(k, 0) == 0 ? 0 : text.find("\n" + k);
    if (at != std::string::npos) {
        at += text[at] == '\n' ? 1 : 0;
        size_t end = std::min(text.find('\n', at), text.size());
        return text.substr(0, at) + k + value + text.substr(end);
    }
    const std::string v = "# version: ";
    size_t after = text.rfind(v, 0) == 0 ? 0 : text.find("\n" + v);
    after = after == std::string::npos ? 0 : text.find('\n', after + 1);
    after = after == std::string::npos ? text.size() : after + 1;
    return text.substr(0, after) + k + value + "\n" + text.substr(after);
}

std::string machineOf(const std::string &target) {
    return target.substr(0, target.find(','));
}

std::string nameRule(const std::string &name, bool directory) {
    if (name.empty()) {
        return "an entry without a name";
    }
    if (name[0] == '/') {
        return name + ": an absolute name";
    }
    // Printable ASCII: the images' names have blanks; a backslash would
    // make sha256sum escape the name in the MANIFEST.
    bool plain = name.size() <= 255 && std::all_of(name.begin(), name.end(), [](char c) {
                     return c >= ' ' && c < 127 && c != '\\';
                 });
    size_t parts = 0;
    for (size_t at = 0; at <= name.size();) {
        size_t end = std::min(name.find('/', at), name.size());
        std::string part = name.substr(at, end - at);
        if (part == "..") {
            return name + ": a name with ..";
        }
        if (part.empty() || part == ".") {
            plain = false;
        }
        parts++;
        at = end + 1;
    }
    if (!plain) {
        return name + ": not a plain name (printable ASCII without backslashes, no empty or . "
                      "parts)";
    }
    if (name.rfind(UPDATE_PREFIX, 0) != 0 && !(directory && name == "opt/tstat")) {
        return name + ": not under " + UPDATE_PREFIX;
    }
    return parts >= (directory ? 2u : 3u) ? "" : name + ": not under " + UPDATE_PREFIX;
}

std::string printable(const std::string &text) {
    std::string out;
    for (char c : text) {
        auto b = static_cast<unsigned char>(c);
        if (b < ' ' || b >= 127) {
            char esc[5];
            snprintf(esc, sizeof(esc), "\\x%02x", b);
            out += esc;
        } else {
            out += c;
        }
    }
    return out;
}
