#include <cstdio>
#include <cstdlib>

#include "tests/fuzz/FuzzTargets.h"

namespace {
FuzzFailureHandler failureHandler = nullptr;
}

void SetFuzzFailureHandler(FuzzFailureHandler handler) { failureHandler = handler; }

void FuzzFail(const char* target, const char* what) {
  if (failureHandler != nullptr) {
    failureHandler(target, what);
    return;
  }
  std::fprintf(stderr, "%s: invariant broken: %s\n", target, what);
  std::abort();
}
