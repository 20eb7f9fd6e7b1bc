#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// A program the benchmark started, with its standard output on a pipe.
struct Child {
  pid_t pid = -1;
  int output = -1; // the pipe's reading end
  long long startedAtNs = 0;
};

// Starts the program with its standard output on a pipe and its messages appended to the file
// log, so that they do not break up the table, with NAME=VALUE entries of environment in place
// of the benchmark's own of those names. Ends the benchmark if it cannot be started.
Child startChild(const std::string &program, const std::vector<std::string> &arguments,
                 const std::string &log, const std::vector<std::string> &environment = {});

// Everything the child writes to its standard output until it closes it; closes the pipe.
std::string readOutput(const Child &child);
