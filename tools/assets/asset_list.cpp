// Reader of the image list.
#include "asset_list.h"

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

namespace {

std::vector<std::string> split(const std::string &text, char sep) {
    std::vector<std::string> out;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, sep)) {
        out.push_back(part);
    }
    return out;
}

bool parseSize(const std::string &text, int *value) {
    char *end = nullptr;
    long v = strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || v < 1 || v > 4096) {
        return false;
    }
    *value = static_cast<int>(v);
    return true;
}

} // namespace

std::string AssetSpec::param(const std::string &key, const std::string &fallback) const {
    auto it = params.find(key);
    return it == params.end() ? fallback : it->second;
}

double AssetSpec::number(const std::string &key, double fallback) const {
    auto it = params.find(key);
    if (it == params.end()) {
        return fallback;
    }
    return strtod(it->second.c_str(), nullptr);
}

bool assetListLoad(const std::string &path, std::vector<AssetSpec> *out, std::string *error) {
    std::ifstream in(path);
    if (!in) {
        *error = "cannot open " + path;
        return false;
    }
    out->clear();
    std::set<std::string> seen;
    std::string line;
    int lineNo = 0;
    while (std::getline(in, line)) {
        lineNo++;
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::vector<std::string> cols = split(line, '\t');
        AssetSpec entry;
        entry.line = lineNo;
        if (cols.size() < 4 || cols.size() > 5 || cols[0].empty() ||
            !parseSize(cols[1], &entry.width) || !parseSize(cols[2], &entry.height)) {
            *error = path + ":" + std::to_string(lineNo) +
                     ": expected PATH<tab>WIDTH<tab>HEIGHT<tab>RECIPE[<tab>PARAMS]";
            return false;
        }
        entry.path = cols[0];
        entry.recipe = cols[3];
        if (entry.path.find("..") != std::string::npos || entry.path[0] == '/') {
            *error =
                path + ":" + std::to_string(lineNo) + ": the path must stay in the data directory";
            return false;
        }
        if (!seen.insert(entry.path).second) {
            *error = path + ":" + std::to_string(lineNo) + ": " + entry.path + " is listed twice";
            return false;
        }
        if (cols.size() == 5) {
            for (const std::string &kv : split(cols[4], ';')) {
                if (kv.empty()) {
                    continue;
                }
                std::string::size_type eq = kv.find('=');
                if (eq == std::string::npos) {
                    *error = path + ":" + std::to_string(lineNo) + ": parameter without '=': " + kv;
                    return false;
                }
                entry.params[kv.substr(0, eq)] = kv.substr(eq + 1);
            }
        }
        out->push_back(entry);
    }
    return true;
}
