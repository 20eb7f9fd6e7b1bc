// Measures qelnor-cli from the start of its process to its exit, for one command against a
// pseudo-terminal device that answers 20 ms after the frame's carriage return:
//   - the command as a technician types it (it ends on the reply);
//   - the same with --wait 0 (send and do not wait);
//   - the floor: a bare QCoreApplication started and ended the same way;
//   - for comparison, a few runs with --listen, which waits out the whole --wait of 2 s as
//     every command did before it ended on the reply.
// The three are started in turn, so that whatever else the machine does falls on all alike.
// Prints a table of median, minimum and maximum. Not a test: nothing here passes or fails.
//   bench-cli BIN_DIR QELNOR_CLI      (RUNS and LISTEN_RUNS in the environment change the counts)
#include "childprocess.h"
#include "clock.h"
#include "device.h"
#include "summary.h"

#include <QByteArray>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int answerAfterMs = 20;
const QByteArray reply("\x02ID=42 OK!!\r", 12);
const std::string replyLine = "ID=42 OK!!\xE2\x90\x8D\n"; // the CR shown as its control picture

[[noreturn]] void die(const std::string &why) {
  std::fprintf(stderr, "bench-cli: %s\n", why.c_str());
  std::exit(1);
}

struct Run {
  double ms = 0;
  int status = -1;
  std::string output;
};

// Starts the program with its standard output on a pipe and its messages in the log, and
// waits for it to end.
Run run(const std::string &program, const std::vector<std::string> &arguments,
        const std::string &log) {
  const Child child = startChild(program, arguments, log);
  Run done;
  done.output = readOutput(child);
  int status = 0;
  if (::waitpid(child.pid, &status, 0) != child.pid)
    die("lost " + program);
  done.ms = (monotonicNs() - child.startedAtNs) / 1e6;
  done.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return done;
}

int fromEnvironment(const char *name, int fallback) {
  const char *text = std::getenv(name);
  return text && std::atoi(text) >= 0 && *text ? std::atoi(text) : fallback;
}

} // namespace

int main(int argc, char *argv[]) {
  if (argc != 3)
    die("usage: bench-cli BIN_DIR QELNOR_CLI");
  const std::string bin = std::string(argv[1]) + "/";
  const std::string cli = argv[2];
  const std::string floorProgram = bin + "bench-start-core";
  const std::string log = bin + "cli-children.log";
  ::unlink(log.c_str());
  const int runs = std::max(1, fromEnvironment("RUNS", 20));
  const int listenRuns = fromEnvironment("LISTEN_RUNS", 3);
  constexpr int warmUpRuns = 2;

  // The device answers each frame 20 ms after its CR. A reply that nobody reads (after
  // --wait 0) waits in the line and is discarded by the next open, as a real line's would be;
  // the next run starts only once it has been written, so that it cannot be taken for the next
  // command's reply.
  std::atomic<int> framesAnswered{0};
  Device *device = nullptr;
  Device line([&](const QByteArray &, long long) {
    std::this_thread::sleep_for(std::chrono::milliseconds(answerAfterMs));
    device->write(reply);
    ++framesAnswered;
  });
  device = &line;
  const std::string port = line.path().toStdString();
  int framesSent = 0;
  const auto settle = [&] {
    while (framesAnswered.load() < framesSent)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  };

  const std::vector<std::string> command{"--port", port, "address", "42"};
  std::vector<std::string> waitZero{"--wait", "0"};
  waitZero.insert(waitZero.end(), command.begin(), command.end());
  std::vector<std::string> listen{"--listen"};
  listen.insert(listen.end(), command.begin(), command.end());

  std::vector<double> replyMs, waitZeroMs, floorMs, listenMs;
  for (int i = 0; i < warmUpRuns + runs; ++i) {
    settle();
    const Run answered = run(cli, command, log);
    ++framesSent;
    if (answered.status != 0 || answered.output != replyLine)
      die("qelnor-cli ended with " + std::to_string(answered.status) + " and printed \"" +
          answered.output + "\"; its messages are in " + log);
    settle();
    const Run sent = run(cli, waitZero, log);
    ++framesSent;
    if (sent.status != 0)
      die("qelnor-cli --wait 0 ended with " + std::to_string(sent.status));
    const Run bare = run(floorProgram, {}, log);
    if (bare.status != 0)
      die("the bare QCoreApplication failed");
    if (i < warmUpRuns)
      continue;
    replyMs.push_back(answered.ms);
    waitZeroMs.push_back(sent.ms);
    floorMs.push_back(bare.ms);
  }
  for (int i = 0; i < listenRuns; ++i) {
    settle();
    const Run listened = run(cli, listen, log);
    ++framesSent;
    if (listened.status != 0 || listened.output != replyLine)
      die("qelnor-cli --listen ended with " + std::to_string(listened.status));
    listenMs.push_back(listened.ms);
  }
  settle();

  const Summary answered = summarise(replyMs);
  const Summary sent = summarise(waitZeroMs);
  const Summary bare = summarise(floorMs);
  std::printf("| qelnor-cli, start to exit | median ms | min | max | target | met |\n"
              "|---|--:|--:|--:|---|---|\n");
  std::printf("| `address 42`, device answers after %d ms | %.1f | %.1f | %.1f | ≤ 150 ms | %s |\n",
              answerAfterMs, answered.median, answered.min, answered.max,
              answered.median <= 150 ? "yes" : "**no**");
  std::printf("| `--wait 0 address 42` (send, do not wait) | %.1f | %.1f | %.1f | — | — |\n",
              sent.median, sent.min, sent.max);
  std::printf("| floor: bare `QCoreApplication`, start to exit | %.1f | %.1f | %.1f | — | — |\n",
              bare.median, bare.min, bare.max);
  if (!listenMs.empty()) {
    const Summary listened = summarise(listenMs);
    std::printf("| `--listen address 42` (waits out `--wait` 2 s) | %.1f | %.1f | %.1f | — | — |\n",
                listened.median, listened.min, listened.max);
  }
  std::printf("\n%d runs each (%d with --listen), after %d warm-up runs; the device is a "
              "pseudo-terminal.\n",
              runs, listenRuns, warmUpRuns);
  return 0;
}
