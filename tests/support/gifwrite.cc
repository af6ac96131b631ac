// gifwrite.cc - our GIF writer (gif_writer.h) as a command, so that the Tcl
// tests (tests/tcl/gifdata.tcl) and scripts/make-examples.tcl make their
// files with the same encoder as the unit tests.
//   gifwrite OUTPUT WIDTH HEIGHT < "R G B R G B ...\nINDEX INDEX ...\n"
// The first line is the palette (1 to 256 colours), the second the image's
// palette indices, rows top to bottom.

#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "tests/support/gif_writer.h"

namespace {

using tkpixmap::testing::Rgb;

std::vector<long> numbers(const std::string &line) {
  std::vector<long> out;
  const char *at = line.c_str();
  for (;;) {
    char *end;
    long value = strtol(at, &end, 10);
    if (end == at) break;
    out.push_back(value);
    at = end;
  }
  return out;
}

int fail(const std::string &message) {
  fprintf(stderr, "%s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 4) return fail("usage: gifwrite OUTPUT WIDTH HEIGHT < palette-line index-line");
  const long width = strtol(argv[2], nullptr, 10);
  const long height = strtol(argv[3], nullptr, 10);
  if (width < 1 || width > 65535 || height < 1 || height > 65535) {
    return fail("width and height must be 1 to 65535");
  }
  std::string input;
  char buffer[65536];
  for (size_t got; (got = fread(buffer, 1, sizeof buffer, stdin)) > 0;) input.append(buffer, got);
  const size_t newline = input.find('\n');
  if (newline == std::string::npos) return fail("need a palette line and an index line");

  const std::vector<long> components = numbers(input.substr(0, newline));
  const size_t count = components.size() / 3;
  if (components.size() % 3 != 0) return fail("palette needs r g b triples");
  if (count < 1 || count > 256) {
    return fail("palette needs 1 to 256 colours, has " + std::to_string(count));
  }
  std::vector<Rgb> palette;
  for (size_t i = 0; i < components.size(); i += 3) {
    palette.push_back({uint8_t(components[i]), uint8_t(components[i + 1]),
                       uint8_t(components[i + 2])});
  }

  const std::vector<long> values = numbers(input.substr(newline + 1));
  const size_t pixels = size_t(width) * size_t(height);
  if (values.size() != pixels) {
    return fail("need " + std::to_string(pixels) + " indices, have " +
                std::to_string(values.size()));
  }
  std::vector<int> indices;
  for (long value : values) {
    if (value < 0 || size_t(value) >= count) return fail("index out of the palette: " + std::to_string(value));
    indices.push_back(int(value));
  }

  if (!tkpixmap::testing::writeFile(argv[1],
                                    tkpixmap::testing::encodeGif(int(width), int(height), palette,
                                                                 indices))) {
    return fail(std::string("cannot write ") + argv[1]);
  }
  return 0;
}
