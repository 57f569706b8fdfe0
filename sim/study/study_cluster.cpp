// A study on a Slurm cluster: its runs as one array job whose index picks
// the run (the command line runs.txt gives, run in the run's own folder),
// submitted with sbatch; each task leaves the run's record of how it ended
// (run.json: the study's hash, the build's fingerprint, the exit status),
// from which `--merge` knows which runs are missing, failed or foreign.
#include "study/study.h"

#include "board/board.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace sim {

namespace {

// A program on PATH, or "" when there is none.
std::string onPath(const std::string &program) {
    const char *path = getenv("PATH");
    std::istringstream dirs(path != nullptr ? path : "");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        std::string candidate = (dir.empty() ? "." : dir) + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return "";
}

std::string quoted(const std::string &word) {
    std::string out = "'";
    for (char c : word) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

// The array job: task N runs line N+1 of commands.txt in a fresh folder.
std::string batchScript(const std::string &dir, const std::string &hash,
                        const std::string &simBinary) {
    std::ostringstream out;
    out << "#!/bin/sh\n"
        << "# tstat-sim study " << hash << ": one run of the study for each array index.\n"
        << "#SBATCH --job-name=tstat-study-" << hash.substr(0, 8) << "\n"
        << "#SBATCH --ntasks=1\n"
        << "#SBATCH --cpus-per-task=1\n"
        << "#SBATCH --output=" << dir << "/slurm/task-%a.out\n"
        << "set -u\n"
        << "dir=" << quoted(dir) << "\n"
        << "line=$((SLURM_ARRAY_TASK_ID + 1))\n"
        << "name=$(sed -n \"${line}p\" \"$dir/slurm/names.txt\")\n"
        << "run=\"$dir/runs/$name\"\n"
        << "rm -rf \"$run\" && mkdir -p \"$run\" || exit 1\n"
        << "if [ -f \"$dir/slurm/scripts/$name.txt\" ]; then\n"
        << "    cp \"$dir/slurm/scripts/$name.txt\" \"$run/script.txt\"\n"
        << "fi\n"
        << "started=$(date +%s)\n"
        << "sh -c \"$(sed -n \"${line}p\" \"$dir/slurm/commands.txt\")\" "
           "</dev/null >\"$run/console.log\" 2>&1\n"
        << "status=$?\n"
        << "ended=$(date +%s)\n"
        << "version=$(" << quoted(simBinary) << " study --version)\n"
        << "printf '{\"run\": \"%s\", \"study\": \"%s\", \"version\": \"%s\", \"exit_status\": %d, "
           "\"wall_s\": %d}\\n' \\\n"
        << "    \"$name\" " << quoted(hash)
        << " \"$version\" \"$status\" \"$((ended - started))\" >\"$run/run.json.tmp\"\n"
        << "mv \"$run/run.json.tmp\" \"$run/run.json\"\n"
        << "exit $status\n";
    return out.str();
}

// The hash of the study a folder holds ("" when it holds none).
std::string heldStudy(const std::string &dir) {
    std::ifstream in(dir + "/study.json");
    Json j = Json::parse(in, nullptr, false);
    return j.is_discarded() || !j.is_object() ? "" : studyHash(j);
}

bool writeBatch(const Json &study, const std::vector<StudyRun> &runs, const ClusterOptions &o,
                const std::string &hash) {
    std::string names, commands;
    bool ok = true;
    std::error_code ec;
    fs::create_directories(o.dir + "/slurm/scripts", ec);
    for (const StudyRun &run : runs) {
        names += run.name + "\n";
        commands += repeatCommand(o.simBinary, run) + "\n";
        std::string script;
        for (const std::string &line : run.script) {
            script += line + "\n";
        }
        ok = ok && (run.script.empty() ||
                    writeFileAtomic(o.dir + "/slurm/scripts/" + run.name + ".txt", script));
    }
    return ok && !ec && writeFileAtomic(o.dir + "/study.json", study.dump(2) + "\n") &&
           writeFileAtomic(o.dir + "/runs.txt", commands) &&
           writeFileAtomic(o.dir + "/slurm/names.txt", names) &&
           writeFileAtomic(o.dir + "/slurm/commands.txt", commands) &&
           writeFileAtomic(o.dir + "/slurm/study.sbatch", batchScript(o.dir, hash, o.simBinary));
}

} // namespace

std::vector<std::string> missingRuns(const std::vector<StudyRun> &runs, const std::string &hash,
                                     const std::string &version, bool *foreign) {
    std::vector<std::string> out;
    *foreign = false;
    for (const StudyRun &run : runs) {
        RunRecord r;
        std::string why;
        if (!readRunRecord(run, &r)) {
            why = "no record of its end (never run, still running, or its node died)";
        } else if (r.study != hash) {
            why = "a run of another study (" + r.study + ")";
            *foreign = true;
        } else if (r.version != version) {
            why = "run by another build (" + r.version + ", this one " + version + ")";
            *foreign = true;
        } else if (r.cost.exitStatus != 0) {
            why = "failed with exit status " + std::to_string(r.cost.exitStatus) + " (see " +
                  run.dir + "/console.log)";
        }
        if (!why.empty()) {
            out.push_back(run.name + ": " + why);
        }
    }
    return out;
}

int emitSlurm(const Json &study, const std::vector<StudyRun> &runs, const ClusterOptions &o) {
    std::string hash = studyHash(study);
    std::string held = heldStudy(o.dir);
    if (!held.empty() && held != hash) {
        fprintf(stderr,
                "tstat-sim study: %s holds another study (%s); emit into another folder, "
                "nothing written\n",
                o.dir.c_str(), held.c_str());
        return 2;
    }
    if (o.onlyMissing && held.empty()) {
        fprintf(stderr, "tstat-sim study: --only-missing: %s holds no study yet\n", o.dir.c_str());
        return 2;
    }
    std::string sbatch = o.submit ? onPath("sbatch") : "";
    if (o.submit && sbatch.empty()) {
        fprintf(stderr, "tstat-sim study: no sbatch on PATH: Slurm is not installed or not set "
                        "up here; nothing submitted\n");
        return 2;
    }
    std::string version = programVersion(o.simBinary);
    std::string indices;
    for (size_t i = 0; i < runs.size(); i++) {
        bool foreign = false;
        if (!o.onlyMissing || !missingRuns({runs[i]}, hash, version, &foreign).empty()) {
            indices += (indices.empty() ? "" : ",") + std::to_string(i);
        }
    }
    if (indices.empty()) {
        printf("study: every run of %s ended well; nothing to submit\n", o.dir.c_str());
        return 0;
    }
    if (!writeBatch(study, runs, o, hash)) {
        fprintf(stderr, "tstat-sim study: cannot write the job into %s\n", o.dir.c_str());
        return 2;
    }
    printf("study: %s/slurm/study.sbatch, array %s\n", o.dir.c_str(), indices.c_str());
    if (!o.submit) {
        return 0;
    }
    std::string output;
    int status = runProgram(
        sbatch, {"--parsable", "--array=" + indices, o.dir + "/slurm/study.sbatch"}, &output);
    if (status != 0) {
        fprintf(stderr, "tstat-sim study: sbatch refused the job (exit status %d): %s", status,
                output.c_str());
        return 2;
    }
    printf("study: submitted as Slurm job %s; when it has ended: tstat-sim study --merge %s\n",
           output.substr(0, output.find_first_of(";\n")).c_str(), o.dir.c_str());
    return 0;
}

} // namespace sim
