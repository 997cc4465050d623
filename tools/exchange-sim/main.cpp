// exchange-sim: a simulated VQ exchange for trying and testing the tool.
#include <cstdio>
#include <exception>

#include "tools/exchange-sim/exchange.h"

int main(int argc, char** argv) {
  using namespace exchange_sim;
  std::vector<std::string> args(argv + 1, argv + argc);
  std::optional<SimOptions> options;
  try {
    options = ParseOptions(args);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "exchange-sim: %s\nTry exchange-sim --help.\n", e.what());
    return 2;
  }
  if (!options) {
    std::fputs(UsageText("exchange-sim").c_str(), stdout);
    return 0;
  }
  try {
    Lines image;
    if (options->dump_file.empty()) {
      image = GenerateImage(options->generate);
    } else {
      image = ReadDumpFile(options->dump_file);
      StripEndMark(image, options->end_mark);
    }
    if (!options->write_dump.empty()) {
      WriteWholeFile(options->write_dump, EncodeDump(image, LineEnding::CrLf, options->end_mark));
      return 0;
    }
    Lines expected = image;
    std::string expected_name = "image";
    if (!options->expect_file.empty()) {
      expected = ReadDumpFile(options->expect_file);
      StripEndMark(expected, options->end_mark);
      expected_name = options->expect_file;
    }
    Exchange exchange(*options, std::move(image), std::move(expected), expected_name);
    return exchange.Run();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "exchange-sim: %s\n", e.what());
    return 3;
  }
}
