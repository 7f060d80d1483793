// Throughput of the scaling pass on synthetic models, beside a plain copy of
// the same image, which is the most any pass over it could reach.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "engine/scale_heights.h"
#include "engine/word_image.h"
#include "tools/synthetic_model.h"

namespace {

namespace engine = vendrake::engine;
namespace tools = vendrake::tools;

constexpr std::size_t kLargestImageBytes = 4 * engine::kMaxImageWords;

enum class TagAt { kEarly, kLate };

// A model of `records` vertices with 1.5 faces per vertex, fewer where that
// would pass the largest image the pass accepts. With the tag late, the
// vertex entry moves to the last three words, so the pass scans the whole
// image before it finds the block.
std::vector<std::uint8_t> MakeImage(std::uint32_t records, TagAt tag_at) {
  tools::ModelShape shape{.vertex_count = records, .face_count = records * 3 / 2, .seed = 7};
  while (tools::LayoutOf(shape).total_length > kLargestImageBytes) --shape.face_count;
  std::vector<std::uint8_t> bytes = tools::MakeModel(shape);
  if (tag_at == TagAt::kLate) {
    const tools::ModelLayout layout = tools::LayoutOf(shape);
    const std::size_t entry_words = 3;  // tag, block offset, block length
    const std::size_t late = (bytes.size() / 4 - entry_words) * 4;
    std::memmove(bytes.data() + late, bytes.data() + layout.vertex_entry, 4 * entry_words);
    std::memset(bytes.data() + layout.vertex_entry, 0, 4);
  }
  return bytes;
}

void Load(engine::WordImage& image, const std::vector<std::uint8_t>& bytes) {
  image.Resize(bytes.size());
  std::ranges::copy(bytes, image.MutableBytes().begin());
}

// Each iteration scales the heights for real: by 2 and by 0.5 in turn, which
// are exact on the generator's heights, so the image returns to its first
// state after every second pass and is checked against it at the end.
void BM_ScaleHeights(benchmark::State& state) {
  const auto records = static_cast<std::uint32_t>(state.range(0));
  const auto tag_at = static_cast<TagAt>(state.range(1));
  const std::vector<std::uint8_t> pristine = MakeImage(records, tag_at);
  engine::WordImage image;
  Load(image, pristine);

  float factor = 2.0F;
  for (auto _ : state) {
    engine::ScaleHeights(image, factor);
    benchmark::ClobberMemory();
    factor = factor == 2.0F ? 0.5F : 2.0F;
  }
  if (factor == 0.5F) engine::ScaleHeights(image, factor);  // an odd number of passes ran
  if (!std::ranges::equal(image.Bytes(), pristine)) {
    state.SkipWithError("halving did not undo doubling");
  }
  engine::ScaleHeights(image, 2.0F);
  if (std::ranges::equal(image.Bytes(), pristine)) {
    state.SkipWithError("the pass left the heights as they were");
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(pristine.size()));
  state.SetLabel(std::to_string(pristine.size()) + " bytes");
}

void BM_Memcpy(benchmark::State& state) {
  const std::vector<std::uint8_t> source =
      MakeImage(static_cast<std::uint32_t>(state.range(0)), static_cast<TagAt>(state.range(1)));
  std::vector<std::uint8_t> target(source.size());
  for (auto _ : state) {
    std::memcpy(target.data(), source.data(), source.size());
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(source.size()));
  state.SetLabel(std::to_string(source.size()) + " bytes");
}

void ImageShapes(benchmark::internal::Benchmark* benchmark) {
  benchmark->ArgNames({"records", "tag_late"});
  for (const std::int64_t records : {100, 1000, 2000, 4000}) {
    for (const TagAt tag_at : {TagAt::kEarly, TagAt::kLate}) {
      benchmark->Args({records, static_cast<std::int64_t>(tag_at)});
    }
  }
}

BENCHMARK(BM_ScaleHeights)->Apply(ImageShapes);
BENCHMARK(BM_Memcpy)->Apply(ImageShapes);

// Prints the runs as usual, then each image shape's pass rate beside the copy
// rate: the median of repeated runs where there are repetitions.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(OO_None) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (run.error_occurred || (run.run_type == Run::RT_Aggregate && !median)) continue;
      rates_[run.run_name.args][run.run_name.function_name] = run.counters.at("bytes_per_second");
    }
  }

  void Finalize() override {
    std::printf("\n%-28s %14s %14s %14s\n", "image", "pass GiB/s", "memcpy GiB/s", "pass / memcpy");
    for (const auto& [shape, rates] : rates_) {
      if (!rates.contains("BM_ScaleHeights") || !rates.contains("BM_Memcpy")) continue;
      const double pass = rates.at("BM_ScaleHeights");
      const double copy = rates.at("BM_Memcpy");
      std::printf("%-28s %14.2f %14.2f %14.3f\n", shape.c_str(), pass / kGiB, copy / kGiB,
                  pass / copy);
    }
    std::printf("(target: pass / memcpy at least 0.5)\n");
  }

 private:
  static constexpr double kGiB = 1024.0 * 1024.0 * 1024.0;
  std::map<std::string, std::map<std::string, double>> rates_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
