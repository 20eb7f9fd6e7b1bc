#include "childprocess.h"

#include "clock.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <string_view>
#include <unistd.h>

extern char **environ;

Child startChild(const std::string &program, const std::vector<std::string> &arguments,
                 const std::string &log, const std::vector<std::string> &environment) {
  int pipeEnds[2];
  if (::pipe(pipeEnds) != 0) {
    std::fprintf(stderr, "bench: pipe failed\n");
    std::exit(1);
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log.c_str(),
                                   O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
  posix_spawn_file_actions_addclose(&actions, pipeEnds[1]);
  std::vector<char *> argv{const_cast<char *>(program.c_str())};
  for (const std::string &argument : arguments)
    argv.push_back(const_cast<char *>(argument.c_str()));
  argv.push_back(nullptr);
  std::vector<char *> envp;
  for (const std::string &entry : environment)
    envp.push_back(const_cast<char *>(entry.c_str()));
  const auto given = [&](const std::string_view entry) {
    const std::string_view name = entry.substr(0, entry.find('=') + 1);
    for (const std::string &replaced : environment)
      if (replaced.starts_with(name))
        return true;
    return false;
  };
  for (char **entry = environ; *entry; ++entry)
    if (!given(*entry))
      envp.push_back(*entry);
  envp.push_back(nullptr);
  Child child;
  child.startedAtNs = monotonicNs();
  if (posix_spawn(&child.pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) {
    std::fprintf(stderr, "bench: cannot start %s\n", program.c_str());
    std::exit(1);
  }
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeEnds[1]);
  child.output = pipeEnds[0];
  return child;
}

std::string readOutput(const Child &child) {
  std::string output;
  char chunk[4096];
  for (ssize_t n; (n = ::read(child.output, chunk, sizeof chunk)) > 0;)
    output.append(chunk, n);
  ::close(child.output);
  return output;
}
