// The built library as the test program's host loads it: by file name, next
// to the program, every export resolved by name. Loaded once per program.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tarvex_api.h"

inline const TarvexApi& loadedLibrary() {
  static TarvexApi tv = [] {
    TarvexApi loaded;
    std::string error;
    if (!loadTarvex(defaultLibraryPath(), loaded, error)) {
      ADD_FAILURE() << error;
      std::abort();
    }
    return loaded;
  }();
  return tv;
}
