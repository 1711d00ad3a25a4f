// One object of a type per process, built by the first caller.
#pragma once

namespace tarvex {

// Concurrent first callers wait until construction has finished; if the
// constructor throws, the object counts as not built and the next call
// tries again; the object is destroyed at process exit (or, for a library,
// at unload) in reverse order of construction.
template <class T>
T& processWide() {
  static T instance;
  return instance;
}

}  // namespace tarvex
