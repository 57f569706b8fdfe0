// A study's results: results.csv (every figure of every run), results.md
// (printed too: the comparison of the settings per house, weather,
// equipment and length on every headline figure at once, the runs, the
// means by axis, each a mean over the seeds with its spread), results.json
// (the figures a later study is checked against), timing.csv (what the runs
// cost the host, which differs from host to host and so stays out of the
// others) and one picture per headline figure.
#include "study/study.h"

#include "board/board.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <set>
#include <sstream>

namespace sim {

namespace {

// Where run time saved and energy saved differ by more than this (points),
// the comparison says so.
constexpr double DISAGREEMENT_POINTS = 10.0;
constexpr double THERM_KWH = 29.3071;

std::string number(double v) {
    return std::isnan(v) ? std::string() : formatNumber("%.3f", v);
}

std::string cell(double mean, double sd) {
    if (std::isnan(mean)) {
        return "-";
    }
    return formatNumber("%.2f", mean) + (std::isnan(sd) ? "" : formatNumber(" ±%.2f", sd));
}

std::string unitOf(const std::vector<StudyFigures> &figures) {
    return !figures.empty() && figures.front().celsius ? "C" : "F";
}

std::string titled(const char *text, const std::string &unit) {
    std::string t = text;
    size_t at = t.find("{u}");
    return at == std::string::npos ? t : t.replace(at, 3, unit);
}

std::string csv(const StudySpec &plan, const std::vector<StudyRun> &runs,
                const std::vector<StudyFigures> &figures) {
    std::ostringstream out;
    out << "run,house,weather,equipment,setting,days,seed,unit";
    for (const FigureDef &f : studyFigures()) {
        out << "," << f.key;
    }
    out << "\n";
    for (size_t i = 0; i < runs.size(); i++) {
        out << runs[i].name;
        for (int axis = 0; axis < AXIS_COUNT; axis++) {
            out << "," << plan.axes[axis][runs[i].variant[axis]].name;
        }
        out << "," << runs[i].days << "," << runs[i].seed << ","
            << (figures[i].celsius ? "C" : "F");
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
            out << " " << titled(f.column, unit) << " |";
            rule += "|---:";
        }
    }
    out << "\n" << rule << "|\n";
}

void tableRow(std::ostringstream &out, const std::string &name, const Spread &s) {
    out << "| " << name << " |";
    for (size_t k = 0; k < studyFigures().size(); k++) {
        if (studyFigures()[k].inTable) {
            out << " " << cell(s.mean[k], s.sd[k]) << " |";
        }
    }
    out << "\n";
}

std::string degrees(double c, const std::string &unit) {
    return formatNumber("%.0f", unit == "C" ? c : c * 1.8 + 32.0);
}

std::string rangeText(const std::array<double, 2> &r, const std::string &unit) {
    return degrees(r[0], unit) + "-" + degrees(r[1], unit) + " " + unit;
}

std::string clock(int minutes) {
    return formatNumber("%02.0f", minutes / 60) + ":" + formatNumber("%02.0f", minutes % 60);
}

void conditionsText(std::ostringstream &out, const StudySpec &plan, const std::string &unit) {
    const ComfortRange &c = plan.comfort;
    const Tariffs &t = plan.tariffs;
    out << "Comfort range, fixed before the runs: heating " << rangeText(c.heatOccupied, unit)
        << " occupied, " << rangeText(c.heatUnoccupied, unit) << " unoccupied; cooling "
        << rangeText(c.coolOccupied, unit) << " occupied, " << rangeText(c.coolUnoccupied, unit)
        << " unoccupied; occupied Monday to Friday " << clock(c.weekday[0]) << "-"
        << clock(c.weekday[1]) << " and " << clock(c.weekday[2]) << "-" << clock(c.weekday[3])
        << ", Saturday and Sunday " << clock(c.weekend[0]) << "-" << clock(c.weekend[1]) << " and "
        << clock(c.weekend[2]) << "-" << clock(c.weekend[3]) << ".\n"
        << "Tariffs: flat " << formatNumber("%.3f", t.electricity) << " a kWh of electricity, "
        << formatNumber("%.3f", t.gas * THERM_KWH) << " a therm of gas; time of use "
        << formatNumber("%.3f", t.peak) << " from " << t.peakHours[0] << ":00 to " << t.peakHours[1]
        << ":00" << (t.peakWeekends ? "" : " on weekdays") << ", "
        << formatNumber("%.3f", t.offPeak)
        << " otherwise. Emissions: " << formatNumber("%.3f", plan.emissions.electricity)
        << " kg CO2 a kWh of electricity, " << formatNumber("%.3f", plan.emissions.gas)
        << " a kWh of gas.\n";
}

// Where run time saved and the main source's energy saved disagree.
std::string disagreement(const std::string &setting, const Spread &s) {
    double runtime = s.mean[figureIndex("runtime_saved_pct")];
    bool gasMain = s.mean[figureIndex("gas_kwh_day")] > s.mean[figureIndex("electric_kwh_day")];
    const char *source = gasMain ? "gas" : "electricity";
    double energy = s.mean[figureIndex(gasMain ? "gas_saved_pct" : "electric_saved_pct")];
    if (std::isnan(runtime) || std::isnan(energy) ||
        (std::fabs(runtime - energy) <= DISAGREEMENT_POINTS && (runtime < 0) == (energy < 0))) {
        return "";
    }
    return "- " + setting + ": run time saved " + formatNumber("%+.1f", runtime) + " % but " +
           source + " saved " + formatNumber("%+.1f", energy) +
           " %: the connected-thermostat method and the energy disagree.\n";
}

// One table per house, weather, equipment and length: its settings side by
// side (every run of the study in one of them); the number of tables.
size_t comparisons(std::ostringstream &out, const StudySpec &plan,
                   const std::vector<StudyRun> &runs, const std::vector<StudyFigures> &figures,
                   const std::string &unit) {
    std::set<std::string> done;
    for (size_t i = 0; i < runs.size(); i++) {
        std::string key;
        for (int axis = 0; axis < AXIS_SETTING; axis++) {
            key += plan.axes[axis][runs[i].variant[axis]].name + ", ";
        }
        key += std::to_string(runs[i].days) + (runs[i].days == 1 ? " day" : " days");
        if (!done.insert(key).second) {
            continue;
        }
        out << "\nComparison of the settings: " << key << ":\n\n";
        tableHeader(out, "setting", unit);
        std::string notes;
        for (size_t v = 0; v < plan.axes[AXIS_SETTING].size(); v++) {
            std::vector<size_t> members;
            for (size_t j = 0; j < runs.size(); j++) {
                std::array<int, AXIS_COUNT> at = runs[i].variant;
                at[AXIS_SETTING] = static_cast<int>(v);
                if (runs[j].variant == at && runs[j].days == runs[i].days) {
                    members.push_back(j);
                }
            }
            std::string name = plan.axes[AXIS_SETTING][v].name;
            bool failed = false;
            for (size_t m : members) {
                failed = failed || !figures[m].ok;
            }
            Spread s = groupSpread(runs, figures, members);
            tableRow(out,
                     name + (name == plan.baseline ? " (baseline)" : "") +
                         (failed ? " (failed)" : ""),
                     s);
            notes += disagreement(name, s);
        }
        out << (notes.empty() ? "" : "\n" + notes);
    }
    return done.size();
}

void legend(std::ostringstream &out, const std::string &unit) {
    out << "\nColumns:\n\n";
    for (const FigureDef &f : studyFigures()) {
        if (f.inTable) {
            out << "- " << titled(f.column, unit) << ": " << titled(f.title, unit) << "\n";
        }
    }
}

Json resultsJson(const StudySpec &plan, const std::vector<StudyRun> &runs,
                 const std::vector<StudyFigures> &figures) {
    Json j;
    j["conditions"] = studyConditions(plan);
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

std::string timing(const StudySpec &plan, const std::vector<StudyRun> &runs,
                   const std::vector<RunCost> &costs) {
    std::ostringstream out;
    out << "run,exit_status,cpu_s,wall_s,cpu_s_per_counted_day,cpu_s_per_simulated_day,"
           "wall_s_per_simulated_day\n";
    for (size_t i = 0; i < runs.size() && i < costs.size(); i++) {
        const RunCost &c = costs[i];
        double counted = runs[i].days;
        double simulated = counted + plan.warmupHours / 24.0;
        auto cpu = [&c](double days) {
            return c.cpuSeconds >= 0.0 ? formatNumber("%.2f", c.cpuSeconds / days) : "";
        };
        out << runs[i].name << "," << c.exitStatus << "," << cpu(1.0) << ","
            << formatNumber("%.2f", c.wallSeconds) << "," << cpu(counted) << "," << cpu(simulated)
            << "," << formatNumber("%.2f", c.wallSeconds / simulated) << "\n";
    }
    return out.str();
}

} // namespace

Spread groupSpread(const std::vector<StudyRun> &runs, const std::vector<StudyFigures> &figures,
                   const std::vector<size_t> &members) {
    size_t n = studyFigures().size();
    std::vector<uint32_t> seeds;
    for (size_t i : members) {
        if (std::find(seeds.begin(), seeds.end(), runs[i].seed) == seeds.end()) {
            seeds.push_back(runs[i].seed);
        }
    }
    Spread s;
    s.seeds = seeds.size();
    s.mean.assign(n, NAN);
    s.sd.assign(n, NAN);
    for (size_t k = 0; k < n; k++) {
        std::vector<double> perSeed;
        for (uint32_t seed : seeds) {
            double sum = 0.0, count = 0.0;
            for (size_t i : members) {
                double v = figures[i].values[k];
                if (runs[i].seed == seed && !std::isnan(v)) {
                    sum += v;
                    count += 1.0;
                }
            }
            if (count > 0.0) {
                perSeed.push_back(sum / count);
            }
        }
        double mean = 0.0, squares = 0.0;
        for (double v : perSeed) {
            mean += v / static_cast<double>(perSeed.size());
        }
        for (double v : perSeed) {
            squares += (v - mean) * (v - mean);
        }
        s.mean[k] = perSeed.empty() ? NAN : mean;
        s.sd[k] =
            perSeed.size() > 1 ? std::sqrt(squares / static_cast<double>(perSeed.size() - 1)) : NAN;
    }
    return s;
}

std::string studyMarkdown(const StudySpec &plan, const std::vector<StudyRun> &runs,
                          const std::vector<StudyFigures> &figures) {
    std::string unit = unitOf(figures);
    std::ostringstream out;
    out << "Study: " << runs.size() << (runs.size() == 1 ? " run, " : " runs, ")
        << formatNumber("%g", plan.warmupHours)
        << " h of warm-up left out of every figure; degrees in " << unit << "; "
        << plan.seeds.size() << (plan.seeds.size() == 1 ? " seed" : " seeds")
        << (plan.seeds.size() > 1 ? ", each value the mean over the seeds ± its standard deviation"
                                  : "")
        << ".\n";
    conditionsText(out, plan, unit);
    size_t groups = comparisons(out, plan, runs, figures, unit);
    // Means by axis where there is more than one table to sum up.
    for (int axis = 0; axis < AXIS_COUNT && groups > 1; axis++) {
        if (plan.axes[axis].size() < 2) {
            continue;
        }
        out << "\nMeans by " << studyAxisName(axis) << ":\n\n";
        tableHeader(out, studyAxisName(axis), unit);
        for (size_t v = 0; v < plan.axes[axis].size(); v++) {
            std::vector<size_t> members;
            for (size_t i = 0; i < runs.size(); i++) {
                // The baseline runs count only on the settings axis, where
                // they are a value.
                if (runs[i].variant[axis] == static_cast<int>(v) &&
                    (!runs[i].baseline || axis == AXIS_SETTING)) {
                    members.push_back(i);
                }
            }
            tableRow(out, plan.axes[axis][v].name, groupSpread(runs, figures, members));
        }
    }
    legend(out, unit);
    return out.str();
}

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
            if (studyFigures()[i].kind == KIND_DEGREES) {
                f.values[i] *= k;
            }
        }
        f.celsius = celsius;
    }
    return out;
}

std::string writeStudyResults(const StudySpec &plan, const std::vector<StudyRun> &runs,
                              const std::vector<StudyFigures> &ownUnits,
                              const std::vector<RunCost> &costs, const std::string &outDir,
                              const std::string &fontDir) {
    // Each row of results.csv in its run's unit, with the unit; everything
    // that sets runs side by side in the study's.
    std::vector<StudyFigures> figures = inStudyUnit(ownUnits);
    std::string md = studyMarkdown(plan, runs, figures);
    writeFileAtomic(outDir + "/results.csv", csv(plan, runs, ownUnits));
    writeFileAtomic(outDir + "/results.json", resultsJson(plan, runs, figures).dump(2) + "\n");
    writeFileAtomic(outDir + "/timing.csv", timing(plan, runs, costs));
    std::vector<std::string> names;
    for (const StudyRun &r : runs) {
        names.push_back(r.name);
    }
    std::error_code ec;
    std::filesystem::create_directories(outDir + "/plots", ec);
    for (size_t k = 0; k < studyFigures().size(); k++) {
        const FigureDef &def = studyFigures()[k];
        std::vector<double> values;
        for (const StudyFigures &f : figures) {
            values.push_back(f.values[k]);
        }
        std::string error;
        if (def.inTable && !plotStudyFigure(outDir + "/plots/" + def.key + ".png", fontDir, def,
                                            names, values, unitOf(figures), &error)) {
            md += "\nno plots: " + error + "\n";
            break;
        }
    }
    writeFileAtomic(outDir + "/results.md", md);
    return md;
}

} // namespace sim
