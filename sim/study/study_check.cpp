// The check of a study against a baseline results.json: only a baseline of
// the same unit, the same conditions and every run of this study is
// compared; then every figure that moved past its tolerance (whole numbers
// exactly) and every compressor off time below the guard is a finding.
#include "study/study.h"

#include <cmath>
#include <fstream>
#include <sstream>

namespace sim {

namespace {

// Relative tolerance of a check on top of each measured figure's absolute one.
constexpr double RELATIVE_TOLERANCE = 0.05;

std::string shown(double v) {
    return std::isnan(v) ? std::string("-") : formatNumber("%.3f", v);
}

double tolerance(const StudySpec &plan, const FigureDef &f, double base) {
    auto given = plan.tolerances.find(f.key);
    double absolute = given != plan.tolerances.end() ? given->second : f.tolerance;
    return f.kind == KIND_COUNT && given == plan.tolerances.end()
               ? 0.0
               : absolute + RELATIVE_TOLERANCE * std::fabs(base);
}

// The findings for one run against its baseline values.
int checkRun(const StudySpec &plan, const std::string &name, const StudyFigures &now,
             const Json &base, std::ostringstream &out) {
    int findings = 0;
    for (size_t k = 0; k < studyFigures().size(); k++) {
        const FigureDef &f = studyFigures()[k];
        double v = now.values[k];
        const Json &b = base.contains(f.key) ? base.at(f.key) : Json();
        double was = b.is_number() ? b.get<double>() : NAN;
        double allowed = tolerance(plan, f, was);
        bool moved = std::isnan(v) != std::isnan(was) ||
                     (!std::isnan(v) && std::fabs(v - was) > allowed + 1e-9);
        if (moved) {
            out << name << ": " << f.key << " moved from " << shown(was) << " to " << shown(v)
                << (allowed == 0.0 ? " (compared exactly)"
                                   : " (tolerance " + formatNumber("%.3f", allowed) + ")")
                << "\n";
            findings++;
        }
        if (std::string(f.key) == "short_compressor_off" && v > 0.0) {
            out << name << ": " << shown(v) << " compressor off times below 300 s\n";
            findings++;
        }
    }
    return findings;
}

Json readBaseline(const std::string &path) {
    std::ifstream in(path);
    return Json::parse(in, nullptr, false);
}

} // namespace

std::string baselineRefusal(const std::string &path, const StudySpec &plan,
                            const std::vector<StudyRun> &runs, const std::string &unit) {
    Json baseline = readBaseline(path);
    if (baseline.is_discarded() || !baseline.is_object() || !baseline.contains("runs") ||
        !baseline.at("runs").is_array()) {
        return "it is not a study's results.json";
    }
    std::string was = baseline.value("unit", "");
    if (!unit.empty() && was != unit) {
        return "its figures are in " + (was.empty() ? std::string("no unit") : was) +
               ", this study's in " + unit;
    }
    Json conditions = studyConditions(plan);
    Json before = baseline.value("conditions", Json::object());
    for (const auto &item : conditions.items()) {
        if (!before.contains(item.key()) || before.at(item.key()) != item.value()) {
            return "another study: its " + item.key() + " differs (" +
                   (before.contains(item.key()) ? before.at(item.key()).dump() : "none") +
                   ", this study's " + item.value().dump() + ")";
        }
    }
    for (const StudyRun &run : runs) {
        bool found = false;
        for (const Json &r : baseline.at("runs")) {
            found = found || r.value("run", "") == run.name;
        }
        if (!found) {
            return "another study: it has no run " + run.name;
        }
    }
    return "";
}

int checkStudy(const std::string &baselinePath, const StudySpec &plan,
               const std::vector<StudyRun> &runs, const std::vector<StudyFigures> &ownUnits,
               std::string *text) {
    std::vector<StudyFigures> figures = inStudyUnit(ownUnits);
    std::string unit = !figures.empty() && figures.front().celsius ? "C" : "F";
    std::string why = baselineRefusal(baselinePath, plan, runs, unit);
    Json baseline = readBaseline(baselinePath);
    if (!why.empty()) {
        *text = "study: cannot check against the baseline " + baselinePath + ": " + why + "\n";
        return -1;
    }
    std::ostringstream out;
    int findings = 0;
    for (size_t i = 0; i < runs.size(); i++) {
        for (const Json &r : baseline.at("runs")) {
            if (r.value("run", "") == runs[i].name) {
                findings += checkRun(plan, runs[i].name, figures[i],
                                     r.value("figures", Json::object()), out);
            }
        }
    }
    out << "study check against " << baselinePath << ": "
        << (findings == 0 ? "every figure within its tolerance"
                          : std::to_string(findings) + " findings")
        << "\n";
    *text = out.str();
    return findings;
}

} // namespace sim
