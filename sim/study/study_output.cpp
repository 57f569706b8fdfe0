// A study's results: results.csv (every figure of every run), results.md
// (the main figures per run and per group, printed too), results.json (the
// figures a later study is checked against), timing.csv (what the runs cost
// the host, which differs from host to host and so stays out of the
// others), one picture per figure, and the check against a baseline.
#include "study/study.h"

#include "board/board.h"
#include "report/report_json.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace sim {

namespace {

// Relative tolerance of a check on top of each figure's absolute one.
constexpr double RELATIVE_TOLERANCE = 0.05;

std::string number(double v) {
    return std::isnan(v) ? std::string() : formatNumber("%.3f", v);
}

std::string cell(double v) {
    return std::isnan(v) ? std::string("-") : formatNumber("%.2f", v);
}

std::string unitOf(const std::vector<StudyFigures> &figures) {
    return !figures.empty() && figures.front().celsius ? "C" : "F";
}

std::string titled(const FigureDef &f, const std::string &unit) {
    std::string t = f.title;
    size_t at = t.find("{u}");
    return at == std::string::npos ? t : t.replace(at, 3, unit);
}

std::string csv(const StudySpec &spec, const std::vector<StudyRun> &runs,
                const std::vector<StudyFigures> &figures) {
    std::ostringstream out;
    out << "run,house,weather,equipment,setting,days,unit";
    for (const FigureDef &f : studyFigures()) {
        out << "," << f.key;
    }
    out << "\n";
    for (size_t i = 0; i < runs.size(); i++) {
        out << runs[i].name;
        for (int axis = 0; axis < AXIS_COUNT; axis++) {
            out << "," << spec.axes[axis][runs[i].variant[axis]].name;
        }
        out << "," << runs[i].days << "," << (figures[i].celsius ? "C" : "F");
        for (double v : figures[i].values) {
            out << "," << number(v);
        }
        out << "\n";
    }
    return out.str();
}

void tableHeader(std::ostringstream &out, const char *first, const std::string &unit) {
    std::string rule = "|---";
    out << "| " << first << " |";
    for (const FigureDef &f : studyFigures()) {
        if (f.inTable) {
            out << " " << titled(f, unit) << " |";
            rule += "|---:";
        }
    }
    out << "\n" << rule << "|\n";
}

void tableRow(std::ostringstream &out, const std::string &name, const std::vector<double> &v) {
    out << "| " << name << " |";
    for (size_t k = 0; k < studyFigures().size(); k++) {
        if (studyFigures()[k].inTable) {
            out << " " << cell(v[k]) << " |";
        }
    }
    out << "\n";
}

// The mean of each figure over the runs with one value of an axis (the
// baseline runs only on the settings axis, where they are a value).
std::vector<double> groupMean(const std::vector<StudyRun> &runs,
                              const std::vector<StudyFigures> &figures, int axis, int value) {
    size_t n = studyFigures().size();
    std::vector<double> sum(n, 0.0), count(n, 0.0);
    for (size_t i = 0; i < runs.size(); i++) {
        if (runs[i].variant[axis] != value || (runs[i].baseline && axis != AXIS_SETTING)) {
            continue;
        }
        for (size_t k = 0; k < n; k++) {
            if (!std::isnan(figures[i].values[k])) {
                sum[k] += figures[i].values[k];
                count[k] += 1.0;
            }
        }
    }
    for (size_t k = 0; k < n; k++) {
        sum[k] = count[k] > 0.0 ? sum[k] / count[k] : NAN;
    }
    return sum;
}

std::string markdown(const StudySpec &spec, const std::vector<StudyRun> &runs,
                     const std::vector<StudyFigures> &figures) {
    std::string unit = unitOf(figures);
    std::ostringstream out;
    out << "Runs (" << formatNumber("%g", spec.warmupHours) << " h of warm-up left out; degrees in "
        << unit << "):\n\n";
    tableHeader(out, "run", unit);
    for (size_t i = 0; i < runs.size(); i++) {
        tableRow(out, runs[i].name + (figures[i].ok ? "" : " (failed)"), figures[i].values);
    }
    for (int axis = 0; axis < AXIS_COUNT; axis++) {
        if (spec.axes[axis].size() < 2) {
            continue;
        }
        out << "\nMeans by " << studyAxisName(axis) << ":\n\n";
        tableHeader(out, studyAxisName(axis), unit);
        for (size_t v = 0; v < spec.axes[axis].size(); v++) {
            tableRow(out, spec.axes[axis][v].name,
                     groupMean(runs, figures, axis, static_cast<int>(v)));
        }
    }
    return out.str();
}

Json resultsJson(const StudySpec &spec, const std::vector<StudyRun> &runs,
                 const std::vector<StudyFigures> &figures) {
    Json j;
    j["start"] = spec.start;
    j["warmup_hours"] = spec.warmupHours;
    j["seed"] = spec.seed;
    j["unit"] = unitOf(figures);
    Json list = Json::array();
    for (size_t i = 0; i < runs.size(); i++) {
        Json values;
        for (size_t k = 0; k < studyFigures().size(); k++) {
            double v = figures[i].values[k];
            values[studyFigures()[k].key] = std::isnan(v) ? Json() : Json(std::stod(number(v)));
        }
        list.push_back({{"run", runs[i].name}, {"figures", values}});
    }
    j["runs"] = list;
    return j;
}

std::string timing(const std::vector<StudyRun> &runs, const std::vector<RunCost> &costs) {
    std::ostringstream out;
    out << "run,exit_status,cpu_s,wall_s,cpu_s_per_simulated_day,wall_s_per_simulated_day\n";
    for (size_t i = 0; i < runs.size(); i++) {
        const RunCost &c = costs[i];
        double days = runs[i].days > 0 ? runs[i].days : 1;
        out << runs[i].name << "," << c.exitStatus << "," << formatNumber("%.2f", c.cpuSeconds)
            << "," << formatNumber("%.2f", c.wallSeconds) << ","
            << formatNumber("%.2f", c.cpuSeconds / days) << ","
            << formatNumber("%.2f", c.wallSeconds / days) << "\n";
    }
    return out.str();
}

} // namespace

std::vector<StudyFigures> inStudyUnit(const std::vector<StudyFigures> &figures) {
    std::vector<StudyFigures> out = figures;
    bool celsius = !figures.empty() && figures.front().celsius;
    for (StudyFigures &f : out) {
        if (f.celsius == celsius) {
            continue;
        }
        // Degree-hours are differences: the factor alone converts them.
        double k = celsius ? 1.0 / 1.8 : 1.8;
        for (size_t i = 0; i < studyFigures().size() && i < f.values.size(); i++) {
            if (std::string(studyFigures()[i].title).find("{u}") != std::string::npos) {
                f.values[i] *= k;
            }
        }
        f.celsius = celsius;
    }
    return out;
}

std::string writeStudyResults(const StudySpec &spec, const std::vector<StudyRun> &runs,
                              const std::vector<StudyFigures> &ownUnits,
                              const std::vector<RunCost> &costs, const std::string &outDir,
                              const std::string &fontDir) {
    // Each row of results.csv in its run's unit, with the unit; everything
    // that sets runs side by side in the study's.
    std::vector<StudyFigures> figures = inStudyUnit(ownUnits);
    std::string md = markdown(spec, runs, figures);
    writeFileAtomic(outDir + "/results.csv", csv(spec, runs, ownUnits));
    writeFileAtomic(outDir + "/results.md", md);
    writeFileAtomic(outDir + "/results.json", resultsJson(spec, runs, figures).dump(2) + "\n");
    writeFileAtomic(outDir + "/timing.csv", timing(runs, costs));
    std::vector<std::string> names;
    for (const StudyRun &r : runs) {
        names.push_back(r.name);
    }
    std::error_code ec;
    std::filesystem::create_directories(outDir + "/plots", ec);
    for (size_t k = 0; k < studyFigures().size(); k++) {
        std::vector<double> values;
        for (const StudyFigures &f : figures) {
            values.push_back(f.values[k]);
        }
        std::string error;
        const FigureDef &def = studyFigures()[k];
        if (!plotStudyFigure(outDir + "/plots/" + def.key + ".png", fontDir, def, names, values,
                             unitOf(figures), &error)) {
            md += "\nno plots: " + error + "\n";
            break;
        }
    }
    return md;
}

namespace {

double tolerance(const StudySpec &spec, const FigureDef &f, double base) {
    auto given = spec.tolerances.find(f.key);
    double absolute = given != spec.tolerances.end() ? given->second : f.tolerance;
    return absolute + RELATIVE_TOLERANCE * std::fabs(base);
}

// The findings for one run against its baseline values.
int checkRun(const StudySpec &spec, const std::string &name, const StudyFigures &now,
             const Json &base, std::ostringstream &out) {
    int findings = 0;
    for (size_t k = 0; k < studyFigures().size(); k++) {
        const FigureDef &f = studyFigures()[k];
        double v = now.values[k];
        const Json &b = base.contains(f.key) ? base.at(f.key) : Json();
        double was = b.is_number() ? b.get<double>() : NAN;
        bool moved = std::isnan(v) != std::isnan(was) ||
                     (!std::isnan(v) && std::fabs(v - was) > tolerance(spec, f, was));
        if (moved) {
            out << name << ": " << f.key << " moved from " << cell(was) << " to " << cell(v)
                << " (tolerance " << formatNumber("%.2f", tolerance(spec, f, was)) << ")\n";
            findings++;
        }
        if (std::string(f.key) == "short_compressor_off" && v > 0.0) {
            out << name << ": " << cell(v) << " compressor off times below 300 s\n";
            findings++;
        }
    }
    return findings;
}

} // namespace

int checkStudy(const std::string &baselinePath, const StudySpec &spec,
               const std::vector<StudyRun> &runs, const std::vector<StudyFigures> &ownUnits,
               std::string *text) {
    std::vector<StudyFigures> figures = inStudyUnit(ownUnits);
    std::ifstream in(baselinePath);
    Json baseline = Json::parse(in, nullptr, false);
    std::ostringstream out;
    if (baseline.is_discarded() || !baseline.contains("runs")) {
        *text = "study: cannot read the baseline " + baselinePath + "\n";
        return 1;
    }
    int findings = 0;
    for (size_t i = 0; i < runs.size(); i++) {
        const Json *base = nullptr;
        for (const Json &r : baseline.at("runs")) {
            base = r.value("run", "") == runs[i].name ? &r.at("figures") : base;
        }
        if (base == nullptr) {
            out << runs[i].name << ": not in the baseline\n";
            findings++;
            continue;
        }
        findings += checkRun(spec, runs[i].name, figures[i], *base, out);
    }
    out << "study check against " << baselinePath << ": "
        << (findings == 0 ? "every figure within its tolerance"
                          : std::to_string(findings) + " findings")
        << "\n";
    *text = out.str();
    return findings;
}

} // namespace sim
