// Feeds every file of the given folders once to a harness's LLVMFuzzerTestOneInput,
// in name order: the seed corpora's regression run where there is no libFuzzer (the
// mingw-w64 builds). A failed check aborts, as under libFuzzer.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i)
    for (const auto& entry : fs::directory_iterator(argv[i]))
      if (entry.is_regular_file()) inputs.push_back(entry.path());
  std::sort(inputs.begin(), inputs.end());
  for (const auto& input : inputs) {
    std::ifstream in(input, std::ios::binary);
    const std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    std::printf("%s\n", input.filename().string().c_str());
    std::fflush(stdout);
    LLVMFuzzerTestOneInput(data.data(), data.size());
  }
  std::printf("%zu inputs\n", inputs.size());
  // No input at all means a wrong folder, not a clean run.
  return inputs.empty() ? 1 : 0;
}
