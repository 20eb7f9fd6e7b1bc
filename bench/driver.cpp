// Runs the window benchmark: starts the window program and its baselines as child processes,
// taking turns in one run, and prints a table of the median, minimum and maximum of each
// measure next to its baseline and target.
//   - start-up and peak memory of the shipped qelnor-setup, from spawning it to its first
//     window painted and handed to the platform (a preloaded library tells when), against the
//     fair floor (the same form, controls, captions and faces without logic) and a window of
//     one label; on each platform named in PLATFORMS (default "offscreen"; bench.sh adds xcb
//     on a virtual X display);
//   - send and reply latency and idle CPU of the program's window against a bare Qt program.
//   bench-driver BIN_DIR QELNOR_SETUP [start]   (start: the start-up rows only; RUNS, IDLE_RUNS
//                                              and IDLE_MS in the environment change the counts)
#include "childprocess.h"
#include "clock.h"
#include "summary.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct Finished {
  std::string output;
  long long startedAtNs = 0;
  double peakMemoryMb = 0;
};

[[noreturn]] void die(const std::string &why) {
  std::fprintf(stderr, "bench: %s\n", why.c_str());
  std::exit(1);
}

// Where the children's messages go, so that they do not break up the table.
std::string childLog;

Child start(const std::string &program, const std::vector<std::string> &arguments,
            const std::vector<std::string> &environment = {}) {
  return startChild(program, arguments, childLog, environment);
}

Finished finish(const Child &child, const std::string &program) {
  Finished done;
  done.startedAtNs = child.startedAtNs;
  done.output = readOutput(child);
  int status = 0;
  rusage usage{};
  if (wait4(child.pid, &status, 0, &usage) != child.pid)
    die("lost " + program);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    die(program + " failed; its messages are in " + childLog);
  done.peakMemoryMb = usage.ru_maxrss / 1024.0;
  return done;
}

// The numbers after each "name " line of a probe's output.
std::vector<double> field(const std::string &output, const std::string &name, int column = 0) {
  std::vector<double> values;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string word;
    words >> word;
    if (word != name)
      continue;
    double value = 0;
    for (int i = 0; i <= column; ++i)
      words >> value;
    values.push_back(value);
  }
  return values;
}

std::vector<double> scaled(std::vector<double> values, double divisor) {
  for (double &v : values)
    v /= divisor;
  return values;
}

int fromEnvironment(const char *name, int fallback) {
  const char *text = std::getenv(name);
  return text && std::atoi(text) > 0 ? std::atoi(text) : fallback;
}

std::string envValue(const char *name, const char *fallback) {
  const char *value = std::getenv(name);
  return value && *value ? value : fallback;
}

struct Row {
  std::string measure;
  Summary program;
  std::string baselineName;
  Summary baseline;
  int decimals;
  std::string target;
  std::string met;
};

void printTable(const std::vector<Row> &rows) {
  std::printf("| measure | qelnor-setup median | min | max | baseline | median | min | max | "
              "target | met |\n|---|--:|--:|--:|---|--:|--:|--:|---|---|\n");
  for (const Row &r : rows) {
    const int d = r.decimals;
    std::printf("| %s | %.*f | %.*f | %.*f | %s | %.*f | %.*f | %.*f | %s | %s |\n",
                r.measure.c_str(), d, r.program.median, d, r.program.min, d, r.program.max,
                r.baselineName.c_str(), d, r.baseline.median, d, r.baseline.min, d, r.baseline.max,
                r.target.c_str(), r.met.c_str());
  }
}

// The ratio of two runs' medians, as the table's targets read.
std::string ratio(const Summary &program, const Summary &baseline) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f ×", program.median / baseline.median);
  return text;
}

// The programs whose start-up is compared, and the platforms they are started on.
const std::vector<std::string> startKinds{"form", "floor", "bare"};

std::vector<std::string> platforms() {
  std::vector<std::string> names;
  std::istringstream list(envValue("PLATFORMS", "offscreen"));
  for (std::string name; list >> name;)
    names.push_back(name);
  return names;
}

} // namespace

int main(int argc, char *argv[]) {
  const bool startOnly = argc == 4 && std::string(argv[3]) == "start";
  if (argc != 3 && !startOnly)
    die("usage: bench-driver BIN_DIR QELNOR_SETUP [start]");
  const std::string bin = std::string(argv[1]) + "/";
  const std::map<std::string, std::string> startPrograms{
      {"form", argv[2]}, {"floor", bin + "bench-start-floor"}, {"bare", bin + "bench-start-bare"}};
  const std::string reporter = "LD_PRELOAD=" + bin + "libbench-firstpaint.so";
  childLog = bin + "children.log";
  ::unlink(childLog.c_str());
  const int runs = fromEnvironment("RUNS", 16);
  const int idleRuns = fromEnvironment("IDLE_RUNS", 10);
  const int idleMs = fromEnvironment("IDLE_MS", 5000);
  constexpr int warmUpRuns = 2;

  // start-up and memory by platform, then program
  std::map<std::string, std::map<std::string, std::vector<double>>> startMs, memoryMb;
  for (int i = 0; i < warmUpRuns + runs; ++i) {
    for (const std::string &platform : platforms()) {
      // Taking turns, each first in its turn, so that whatever else the machine does and
      // whatever one start leaves in the caches for the next falls on all alike.
      for (size_t k = 0; k < startKinds.size(); ++k) {
        const std::string &kind = startKinds[(i + k) % startKinds.size()];
        const std::string &program = startPrograms.at(kind);
        const Finished run =
            finish(start(program, {}, {reporter, "QT_QPA_PLATFORM=" + platform}), program);
        const std::vector<double> paintedAt = field(run.output, "firstpaint");
        if (paintedAt.size() != 1)
          die(program + " reported no first paint");
        if (i < warmUpRuns)
          continue;
        startMs[platform][kind].push_back((paintedAt[0] - run.startedAtNs) / 1e6);
        memoryMb[platform][kind].push_back(run.peakMemoryMb);
      }
    }
  }
  std::fprintf(stderr, "bench: start-up done\n");
  const auto met = [](bool yes) { return std::string(yes ? "yes" : "**no**"); };
  std::vector<Row> rows;
  for (const std::string &platform : platforms()) {
    const std::string where = platform == "xcb" ? "X server (Xvfb)" : platform;
    auto &start = startMs[platform];
    auto &memory = memoryMb[platform];
    const Summary startForm = summarise(start["form"]), startFloor = summarise(start["floor"]),
                  startBare = summarise(start["bare"]);
    const Summary memoryForm = summarise(memory["form"]), memoryFloor = summarise(memory["floor"]),
                  memoryBare = summarise(memory["bare"]);
    rows.push_back({"start-up to first paint, " + where + ", ms", startForm, "fair floor",
                    startFloor, 1, "≤ 1.05 × floor (" + ratio(startForm, startFloor) + ")",
                    met(startForm.median <= 1.05 * startFloor.median)});
    rows.push_back({"peak resident memory, " + where + ", MB", memoryForm, "fair floor",
                    memoryFloor, 1, "≤ floor + 2 MB",
                    met(memoryForm.median <= memoryFloor.median + 2)});
    rows.push_back({"start-up to first paint, " + where + ", ms", startForm, "one label", startBare,
                    1, "≤ 1.2 × label (" + ratio(startForm, startBare) + ")",
                    met(startForm.median <= 1.2 * startBare.median)});
    rows.push_back({"peak resident memory, " + where + ", MB", memoryForm, "one label", memoryBare,
                    1, "≤ label + 8 MB", met(memoryForm.median <= memoryBare.median + 8)});
  }
  // On a loaded machine the rounds differ more than the programs: each round's start-up beside
  // the floor's of the same round is the steadier ratio.
  const auto pairedRatios = [&] {
    std::string text;
    for (const std::string &platform : platforms()) {
      const auto &form = startMs[platform]["form"];
      const auto &floor = startMs[platform]["floor"];
      std::vector<double> ratios;
      for (size_t i = 0; i < form.size(); ++i)
        ratios.push_back(form[i] / floor[i]);
      std::sort(ratios.begin(), ratios.end());
      char line[160];
      std::snprintf(line, sizeof line,
                    "Start-up ÷ the fair floor's in the same round, %s: median %.3f, quartiles "
                    "%.3f to %.3f.\n",
                    platform.c_str(), summarise(ratios).median, ratios[ratios.size() / 4],
                    ratios[ratios.size() * 3 / 4]);
      text += line;
    }
    return text;
  };
  if (startOnly) {
    printTable(rows);
    std::printf("\n%d runs each, after %d warm-up runs.\n%s", runs, warmUpRuns,
                pairedRatios().c_str());
    return 0;
  }

  std::map<std::string, std::string> latency;
  for (const std::string kind : {"form", "bare"}) {
    const std::string program = bin + "bench-probe-" + kind;
    latency[kind] = finish(start(program, {"latency", std::to_string(runs)}), program).output;
  }
  std::fprintf(stderr, "bench: latency done\n");

  std::map<std::string, std::vector<double>> idleMsCpu, idleSwitches;
  for (int i = 0; i < idleRuns; ++i) {
    // Both at once: each measures its own CPU time, and both only sleep.
    const std::string form = bin + "bench-probe-form", bare = bin + "bench-probe-bare";
    const Child formChild = start(form, {"idle", std::to_string(idleMs)});
    const Child bareChild = start(bare, {"idle", std::to_string(idleMs)});
    for (const auto &[kind, output] : {std::pair{std::string("form"), finish(formChild, form)},
                                       std::pair{std::string("bare"), finish(bareChild, bare)}}) {
      idleMsCpu[kind].push_back(field(output.output, "idle").at(0) / 1e6);
      idleSwitches[kind].push_back(field(output.output, "idle", 1).at(0));
    }
  }
  std::fprintf(stderr, "bench: idle done\n");

  const auto both = [](std::map<std::string, std::vector<double>> &values) {
    return std::pair{summarise(values["form"]), summarise(values["bare"])};
  };
  const Summary sendForm = summarise(scaled(field(latency["form"], "send"), 1e6));
  const Summary sendBare = summarise(scaled(field(latency["bare"], "send"), 1e6));
  const Summary replyForm = summarise(scaled(field(latency["form"], "reply"), 1e6));
  const Summary replyBare = summarise(scaled(field(latency["bare"], "reply"), 1e6));
  const auto [idleForm, idleBare] = both(idleMsCpu);
  const auto [switchesForm, switchesBare] = both(idleSwitches);

  char idleLabel[64];
  std::snprintf(idleLabel, sizeof idleLabel, "idle CPU in %.0f s, ms", idleMs / 1000.0);
  char switchesLabel[64];
  std::snprintf(switchesLabel, sizeof switchesLabel, "idle wake-ups in %.0f s", idleMs / 1000.0);
  const double idleLimit = 10.0 * idleMs / 5000;
  rows.push_back({"send: click to last byte at device, ms", sendForm, "bare Qt", sendBare, 3,
                  "< 1 ms", met(sendForm.median < 1)});
  rows.push_back({"reply: 12th byte to box shown, ms", replyForm, "bare Qt", replyBare, 3, "< 5 ms",
                  met(replyForm.median < 5)});
  rows.push_back({idleLabel, idleForm, "bare Qt", idleBare, 2, "< 10 ms in 5 s",
                  met(idleForm.median < idleLimit)});
  rows.push_back({switchesLabel, switchesForm, "bare Qt", switchesBare, 0, "—", "—"});
  printTable(rows);
  std::printf("\n%d runs each (%d for idle, form and bare at once), after %d warm-up runs; "
              "latency and idle with QT_QPA_PLATFORM=%s.\n",
              runs, idleRuns, warmUpRuns, envValue("QT_QPA_PLATFORM", "(unset)").c_str());
  std::printf("%s", pairedRatios().c_str());
  return 0;
}
