#pragma once

#include <string>
#include <vector>

namespace vendrake::testing {

struct ProcessResult {
  int status = -1;  // the exit status; -1 when the program did not exit normally
  std::string out;
  std::string err;
};

// Runs `program` with `arguments` (UTF-8 texts, passed each as one argument
// whatever it holds) and waits for it to end. Its standard output and error
// go to files, so that neither can block the other, and come back whole.
// A program that cannot be started fails the current test.
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& arguments);

}  // namespace vendrake::testing
