// Time to split, verify and parse a 512 KiB manifest of several thousand file records:
// the work the updater does once per pass on the manifest body.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "manifest/manifest_parser.h"
#include "manifest/manifest_signature.h"

namespace {

std::string LargeManifestText() {
    std::string text = "VLR1\nversion=3.1.4\nnotes=Wydanie testowe\\n\n";
    for (int i = 0; text.size() < 512 * 1024 - 300; ++i) {
        char line[200];
        std::snprintf(line, sizeof(line), "file=data/folder%03d/file%05d.bin|%d|%064x|0\n", i % 100, i,
                      i * 17, i);
        text += line;
    }
    return text;
}

void BM_ParseManifestText(benchmark::State& state) {
    const std::string text = LargeManifestText();
    for (auto _ : state) {
        ReleaseManifest manifest;
        std::string error;
        benchmark::DoNotOptimize(ParseManifestText(text, manifest, error));
        benchmark::DoNotOptimize(manifest.files.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ParseManifestText)->Unit(benchmark::kMillisecond);

void BM_SplitManifestSignature(benchmark::State& state) {
    const std::string body = LargeManifestText() + "sig=" + std::string(128, 'a') + "\n";
    for (auto _ : state) {
        SplitManifest split;
        benchmark::DoNotOptimize(SplitManifestSignature(body, split));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(body.size()));
}
BENCHMARK(BM_SplitManifestSignature)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
