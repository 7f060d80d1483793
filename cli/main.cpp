#include <iostream>

#include "cli/run_cli.h"
#include "engine/platform_file_system.h"

int main(int argc, char** argv) {
  const auto files = vendrake::engine::MakePlatformFileSystem();
  return vendrake::cli::RunCli(argc, argv, std::cout, std::cerr, *files);
}
