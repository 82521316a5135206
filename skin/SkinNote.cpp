#include "skin/SkinNote.h"

namespace {

// Set once by the window side before any window paints, read on the
// wizard's thread only.
SkinNoteSink Sink = nullptr;

}  // namespace

void SetSkinNoteSink(SkinNoteSink sink) { Sink = sink; }

void SkinNote(const char* line) {
  if (Sink != nullptr) Sink(line);
}
