// Runs the benchmark: starts the program's bench executables and their bare Qt baselines as
// child processes, alternating them in one run, and prints a table of the median, minimum and
// maximum of each measure next to its baseline and target.
//   bench-driver BIN_DIR     (RUNS, IDLE_RUNS and IDLE_MS in the environment change the counts)
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

Child start(const std::string &program, const std::vector<std::string> &arguments) {
  return startChild(program, arguments, childLog);
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

struct Row {
  std::string measure;
  Summary program, baseline;
  int decimals;
  std::string target;
  std::string met;
};

void printTable(const std::vector<Row> &rows) {
  std::printf("| measure | qelnor-setup median | min | max | bare Qt median | min | max | target | "
              "met |\n|---|--:|--:|--:|--:|--:|--:|---|---|\n");
  for (const Row &r : rows) {
    const int d = r.decimals;
    std::printf("| %s | %.*f | %.*f | %.*f | %.*f | %.*f | %.*f | %s | %s |\n", r.measure.c_str(),
                d, r.program.median, d, r.program.min, d, r.program.max, d, r.baseline.median, d,
                r.baseline.min, d, r.baseline.max, r.target.c_str(), r.met.c_str());
  }
}

} // namespace

int main(int argc, char *argv[]) {
  if (argc != 2)
    die("usage: bench-driver BIN_DIR");
  const std::string bin = std::string(argv[1]) + "/";
  childLog = bin + "children.log";
  ::unlink(childLog.c_str());
  const int runs = fromEnvironment("RUNS", 20);
  const int idleRuns = fromEnvironment("IDLE_RUNS", 10);
  const int idleMs = fromEnvironment("IDLE_MS", 5000);
  constexpr int warmUpRuns = 2;

  std::map<std::string, std::vector<double>> startMs, memoryMb;
  for (int i = 0; i < warmUpRuns + runs; ++i) {
    // Alternating, so that whatever else the machine does falls on both alike.
    for (const std::string kind : {"form", "bare"}) {
      const std::string program = bin + "bench-start-" + kind;
      const Finished run = finish(start(program, {}), program);
      const std::vector<double> paintedAt = field(run.output, "firstpaint");
      if (paintedAt.size() != 1)
        die(program + " reported no first paint");
      if (i < warmUpRuns)
        continue;
      startMs[kind].push_back((paintedAt[0] - run.startedAtNs) / 1e6);
      memoryMb[kind].push_back(run.peakMemoryMb);
    }
  }
  std::fprintf(stderr, "bench: start-up done\n");

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
  const auto [startForm, startBare] = both(startMs);
  const auto [memoryForm, memoryBare] = both(memoryMb);
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
  const auto met = [](bool yes) { return std::string(yes ? "yes" : "**no**"); };
  printTable({
      {"start-up to first paint, ms", startForm, startBare, 1, "≤ 1.2 × bare",
       met(startForm.median <= 1.2 * startBare.median)},
      {"peak resident memory, MB", memoryForm, memoryBare, 1, "≤ bare + 8 MB",
       met(memoryForm.median <= memoryBare.median + 8)},
      {"send: click to last byte at device, ms", sendForm, sendBare, 3, "< 1 ms",
       met(sendForm.median < 1)},
      {"reply: 12th byte to box shown, ms", replyForm, replyBare, 3, "< 5 ms",
       met(replyForm.median < 5)},
      {idleLabel, idleForm, idleBare, 2, "< 10 ms in 5 s", met(idleForm.median < idleLimit)},
      {switchesLabel, switchesForm, switchesBare, 0, "—", "—"},
  });
  std::printf("\n%d runs each (%d for idle, form and bare at once), after %d warm-up runs; "
              "QT_QPA_PLATFORM=%s.\n",
              runs, idleRuns, warmUpRuns,
              std::getenv("QT_QPA_PLATFORM") ? std::getenv("QT_QPA_PLATFORM") : "(unset)");
  return 0;
}
