// A library that a map document must never get loaded into the program: when it is, it
// leaves the file SELVANE_LOADED_MARK names, which the test looks for.

#include <cstdio>
#include <cstdlib>

namespace {

[[gnu::constructor]] void MarkLoaded() {
    if (const char* mark = std::getenv("SELVANE_LOADED_MARK")) {
        if (std::FILE* file = std::fopen(mark, "w")) std::fclose(file);
    }
}

}  // namespace
