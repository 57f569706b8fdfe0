// The list of images (assets/images.tsv): every PNG file the thermostat
// loads, with its size, the recipe that draws it and the recipe's parameters.
#pragma once

#include <map>
#include <string>
#include <vector>

struct AssetSpec {
    std::string path; // under the data directory, e.g. "images/Main/Main-Icon-Fan.png"
    int width = 0;
    int height = 0;
    std::string recipe;
    std::map<std::string, std::string> params;
    int line = 0; // line in the list, for messages

    std::string param(const std::string &key, const std::string &fallback = "") const;
    double number(const std::string &key, double fallback) const;
};

// Reads the list; on failure returns false with "FILE:LINE: reason" in *error.
bool assetListLoad(const std::string &path, std::vector<AssetSpec> *out, std::string *error);
