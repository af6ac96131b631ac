// The descriptors this process has open, as /proc lists them: what the
// files family's tests compare before and after to find leaks.
#ifndef TKPIXMAP_TESTS_SUPPORT_FILES_DESCRIPTORS_H
#define TKPIXMAP_TESTS_SUPPORT_FILES_DESCRIPTORS_H

#include <set>
#include <string>

namespace tkpixmap::testing {

// Every open descriptor but the one used to list them.
std::set<int> openDescriptors();

// What descriptor `fd` is open on ("/dev/null"); empty when unknown.
std::string descriptorTarget(int fd);

}  // namespace tkpixmap::testing

#endif
