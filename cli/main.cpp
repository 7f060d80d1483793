#include <iostream>

#include "cli/run_cli.h"
#include "engine/posix_file_system.h"

int main(int argc, char** argv) {
  vendrake::engine::PosixFileSystem files;
  return vendrake::cli::RunCli(argc, argv, std::cout, std::cerr, files);
}
