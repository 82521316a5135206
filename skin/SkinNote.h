// What the painters have to say about their pictures (a bitmap whose header
// cannot be read) goes to whoever the window side names: the skin itself
// knows no status log.
#pragma once

using SkinNoteSink = void (*)(const char* line);

// Where notes go from now on; null drops them.
void SetSkinNoteSink(SkinNoteSink sink);

// One line, as the painters give it.
void SkinNote(const char* line);
