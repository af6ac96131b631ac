// suite_main.h - the main() most suites share (suite_main.cc): a suite
// defines registerSuite(), which registers its benchmarks at run time under
// names made from its own tables, and main() runs them.
#pragma once

namespace bench {
void registerSuite();
}  // namespace bench
