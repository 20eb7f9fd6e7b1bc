// Measures `qelnor-cli commission` over a plan of 40 devices against a pseudo-terminal device
// that answers each frame 20 ms after its carriage return, with --wait 1 and the operator's
// Enter for each device read from a pipe. Each device gets four frames (address, user code,
// power-on password, password reset), so the time per device is expected to be close to four
// times the device's 20 ms plus the program's own work, not the wait; the bound it is held to is
// the device's time plus 10 ms. It runs with the record beside the plan, as an installer's run
// has it, and with the record in memory (/dev/shm), which leaves out what the disk takes to sync
// each line. Prints the time per device and the record's line count. Not a test: nothing here
// passes or fails.
//   bench-commission BIN_DIR QELNOR_CLI      (RUNS in the environment changes the count)
#include "childprocess.h"
#include "clock.h"
#include "device.h"
#include "summary.h"

#include <QByteArray>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int devices = 40;
constexpr int framesPerDevice = 4;
constexpr int answerAfterMs = 20;
constexpr int programMsPerDevice = 10;
const QByteArray reply("\x02ID=42 OK!!\r", 12);

[[noreturn]] void die(const std::string &why) {
  std::fprintf(stderr, "bench-commission: %s\n", why.c_str());
  std::exit(1);
}

// Standard input of the programs started next: one Enter per device, then the end of input.
void answersOnStandardInput() {
  int ends[2];
  if (::pipe(ends) != 0)
    die("pipe failed");
  const std::string answers(devices, '\n');
  if (::write(ends[1], answers.data(), answers.size()) != ssize_t(answers.size()))
    die("cannot write the answers");
  ::close(ends[1]);
  ::dup2(ends[0], STDIN_FILENO);
  ::close(ends[0]);
}

int linesOf(const std::string &path) {
  std::ifstream file(path);
  return int(
      std::count(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>(), '\n'));
}

} // namespace

int main(int argc, char *argv[]) {
  if (argc != 3)
    die("usage: bench-commission BIN_DIR QELNOR_CLI");
  const std::string bin = std::string(argv[1]) + "/";
  const std::string log = bin + "commission-children.log";
  const std::string plan = bin + "commission-plan.csv";
  const std::string record = bin + "commission-plan.record.csv";
  const char *runsText = std::getenv("RUNS");
  const int runs = std::max(1, runsText ? std::atoi(runsText) : 5);

  std::ofstream(plan) << [] {
    std::string rows = "address,user_code,power_on_password,reset_password\n";
    for (int address = 1; address <= devices; ++address)
      rows += std::to_string(address) + ",SITE-" + std::to_string(address) + ",yes,yes\n";
    return rows;
  }();

  Device *device = nullptr;
  Device line([&](const QByteArray &, long long) {
    std::this_thread::sleep_for(std::chrono::milliseconds(answerAfterMs));
    device->write(reply);
  });
  device = &line;

  // Milliseconds per device of each run, with the record at recordPath.
  const auto timed = [&](const std::string &recordPath) {
    std::vector<double> perDeviceMs;
    for (int i = 0; i < runs; ++i) {
      ::unlink(recordPath.c_str());
      answersOnStandardInput();
      const Child child = startChild(argv[2],
                                     {"--port", line.path().toStdString(), "--wait", "1",
                                      "--record", recordPath, "commission", plan},
                                     log);
      readOutput(child);
      int status = 0;
      if (::waitpid(child.pid, &status, 0) != child.pid || !WIFEXITED(status) ||
          WEXITSTATUS(status) != 0)
        die("qelnor-cli commission failed; its messages are in " + log);
      perDeviceMs.push_back((monotonicNs() - child.startedAtNs) / 1e6 / devices);
    }
    return summarise(perDeviceMs);
  };
  const Summary onDisk = timed(record);
  const int recordLines = linesOf(record);
  const std::string inMemory = "/dev/shm/qelnor-bench-commission.record.csv";
  const Summary inMemoryMs = timed(inMemory);
  ::unlink(inMemory.c_str());
  std::printf("| `commission`, %d devices × %d frames, device answers after %d ms, --wait 1 "
              "| median | min | max |\n|---|--:|--:|--:|\n"
              "| time per device, ms (start to exit / %d), record beside the plan "
              "| %.1f | %.1f | %.1f |\n"
              "| the same, record in memory (/dev/shm) | %.1f | %.1f | %.1f |\n",
              devices, framesPerDevice, answerAfterMs, devices, onDisk.median, onDisk.min,
              onDisk.max, inMemoryMs.median, inMemoryMs.min, inMemoryMs.max);
  std::printf("\n%d runs each; the record holds %d lines (a header, and a sent and an answered "
              "line for each of the %d frames); the device takes %d × %d ms = %d ms per device, "
              "and the bound is %d ms.\n",
              runs, recordLines, devices * framesPerDevice, framesPerDevice, answerAfterMs,
              framesPerDevice * answerAfterMs,
              framesPerDevice * answerAfterMs + programMsPerDevice);
  return 0;
}
