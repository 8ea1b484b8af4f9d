// The splash window's paint: the 480x300 background picture blended into the
// panel's backing bitmap with DrawBitmapUseAlpha (what every paint of the
// window does), against memcpy of the same 576,000 bytes.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "bitmap/vorn_bitmap.h"

namespace {

constexpr int width = 480;
constexpr int height = 300;

void paint_background_ours(benchmark::State &state) {
  vorn_bitmap background(width, height);
  background.DrawYGradientRectangle(0, 0, width - 1, height - 1, {10, 20, 60}, {200, 90, 40});
  vorn_bitmap backing(width, height);
  for (auto _ : state) {
    backing.DrawBitmapUseAlpha(background, 0, 0);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * width * height * 4);
}
BENCHMARK(paint_background_ours)->Name("paint_background/ours");

void paint_background_peer(benchmark::State &state) {
  std::vector<unsigned char> from(width * height * 4, 7);
  std::vector<unsigned char> to(width * height * 4);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), from.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * width * height * 4);
}
BENCHMARK(paint_background_peer)->Name("paint_background/peer");

}  // namespace
