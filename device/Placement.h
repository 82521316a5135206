// Where an image may be written: the rules the worker applies, before its
// first write, to the image and the map as read after the repair.
#pragma once

#include <cstdint>
#include <cstdio>

#include "device/Contact.h"
#include "device/MapCopy.h"

// Why an image is not written; each is told in one log line and one box.
struct Refusal {
  const char* log;
  const char* box;
};

// Tells a refusal: its log line, then its box.
void Refuse(const Refusal& refusal);

// A box that names one of our own files (a backup): the text before the
// name, and after it.
struct NamingBox {
  const char* before;
  const char* after;
};
// The usual end of a naming box: the sentence ends with the name.
constexpr char kNameEndsBox[] = ".\n\n" ZEPHLAR_SUPPORT_LINE;
void ShowNamingBox(const NamingBox& box, const char* name);

// Entries 0 to held - 1 were read and are in host order; entry `held`, if
// below count, could not be read.
struct MapView {
  const MapCopy& entries;
  uint32_t count;
  uint32_t held;
};

// The image's length, from the end of the stream; -1 when it cannot be told.
long MeasureImage(std::FILE* image);

// Why an image of `length` bytes may not go into the partition of entry
// `index` of `map`, or null when it may: the whole map must be known, the
// image whole sectors and not empty, inside the partition, within the first
// 2 GB of the drive, and clear of block 0, the map and every other partition
// that is not free space.
const Refusal* RefusalFor(const MapView& map, uint32_t index, long length);
