// Writes a folder of synthetic cliff models for demonstrations, tests and
// benchmarks: <prefix>_A1, <prefix>_A2, ... with sizes spread evenly over the
// asked range and 0 to 3 trailing bytes in turn. The same arguments always
// write the same bytes.
#include <CLI/CLI.hpp>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "tools/synthetic_model.h"

namespace {

struct Options {
  std::filesystem::path out;
  std::uint32_t count = 6;
  std::size_t min_bytes = 1024;
  std::size_t max_bytes = 8192;
  std::uint32_t seed = 1;
  std::string prefix = "CliffNatural0";
};

vendrake::tools::ModelShape ShapeFor(const Options& options, std::uint32_t index) {
  const std::size_t span = options.max_bytes - options.min_bytes;
  const std::size_t target =
      options.min_bytes + (options.count > 1 ? span * index / (options.count - 1) : 0);
  const std::uint32_t vertices = vendrake::tools::VertexCountForSize(target);
  return {.vertex_count = vertices,
          .face_count = vertices * 3 / 2,
          .seed = options.seed * 100'003U + index,
          .trailing_bytes = index % 4};
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  CLI::App app{"Writes synthetic cliff models into a folder.", "vendrake-make-samples"};
  app.add_option("--out", options.out, "Folder to write into (created if missing)")->required();
  app.add_option("--count", options.count, "Number of models")->capture_default_str();
  app.add_option("--min-bytes", options.min_bytes, "Size of the smallest model")
      ->capture_default_str();
  app.add_option("--max-bytes", options.max_bytes, "Size of the largest model")
      ->capture_default_str();
  app.add_option("--seed", options.seed, "Seed of the made-up contents")->capture_default_str();
  app.add_option("--prefix", options.prefix, "Name before the first \"_\"")->capture_default_str();
  CLI11_PARSE(app, argc, argv);
  if (options.min_bytes > options.max_bytes) {
    std::cerr << "--min-bytes must not exceed --max-bytes\n";
    return 2;
  }

  std::error_code error;
  std::filesystem::create_directories(options.out, error);
  for (std::uint32_t index = 0; index < options.count; ++index) {
    const auto bytes = vendrake::tools::MakeModel(ShapeFor(options, index));
    const auto path = options.out / (options.prefix + "_A" + std::to_string(index + 1));
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    if (!file.flush()) {
      std::cerr << "cannot write " << path << '\n';
      return 1;
    }
  }
  return 0;
}
