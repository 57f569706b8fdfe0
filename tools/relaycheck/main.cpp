// tstat-relaycheck: reports every safety violation in a relay log.
#include "host/relay_check.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>

namespace {

void usage(FILE *out) {
    fputs("usage: tstat-relaycheck [--heat-pump] [--diagnostic] [--estop FROM-TO]...\n"
          "                        [--sampled MS] RELAY_LOG\n"
          "Checks a relay log (sim/relay-log) for compressor stages closing within 300 s\n"
          "of opening, outputs the control keeps apart closed together even for one pulse\n"
          "(heating and cooling, humidifier and dehumidifier, two fan speeds), overlapping\n"
          "coil pulses, and pulse sequences beginning while the emergency stop held\n"
          "(--estop gives such an interval in the log's milliseconds). --sampled: the log\n"
          "followed a board's I/O page from outside every MS milliseconds (at most 100),\n"
          "so its instants may be that late.\n"
          "Exit status: 0 clean, 1 violations found, 2 usage or unreadable log.\n",
          out);
}

} // namespace

int main(int argc, char **argv) {
    RelayCheckOptions options;
    const char *file = nullptr;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--heat-pump") == 0) {
            options.heatPump = true;
        } else if (strcmp(argv[i], "--diagnostic") == 0) {
            options.diagnostic = true;
        } else if (strcmp(argv[i], "--estop") == 0 && i + 1 < argc) {
            long long from = 0;
            long long to = 0;
            if (sscanf(argv[++i], "%lld-%lld", &from, &to) != 2 || to < from) {
                usage(stderr);
                return 2;
            }
            options.estopWindows.emplace_back(from, to);
        } else if (strcmp(argv[i], "--sampled") == 0 && i + 1 < argc) {
            char *end = nullptr;
            long ms = strtol(argv[++i], &end, 10);
            if (*end != '\0' || ms < 0 || ms > 100) {
                usage(stderr);
                return 2;
            }
            options.samplingMs = ms;
        } else if (strcmp(argv[i], "--help") == 0) {
            usage(stdout);
            return 0;
        } else if (argv[i][0] != '-' && file == nullptr) {
            file = argv[i];
        } else {
            usage(stderr);
            return 2;
        }
    }
    if (file == nullptr) {
        usage(stderr);
        return 2;
    }
    std::ifstream in(file);
    if (!in) {
        fprintf(stderr, "tstat-relaycheck: cannot read %s\n", file);
        return 2;
    }
    std::vector<RelayEvent> events;
    std::string error;
    if (!parseRelayLog(in, events, error)) {
        fprintf(stderr, "tstat-relaycheck: %s: %s\n", file, error.c_str());
        return 2;
    }
    std::vector<RelayViolation> violations = checkRelayLog(events, options);
    for (const RelayViolation &v : violations) {
        printf("%lld ms: %s\n", static_cast<long long>(v.ms), v.what.c_str());
    }
    printf("%zu pulses checked, %zu violations\n", events.size(), violations.size());
    return violations.empty() ? 0 : 1;
}
