#include "device/MapDump.h"

#include "device/DeviceUi.h"
#include "device/Platform.h"

namespace {

constexpr char kDumpName[] = "zaze_pm.txt";

}  // namespace

DumpFile::DumpFile() : file_(std::fopen(kDumpName, "wt")) {
  if (file_ == nullptr) {
    LogStatus("Unable to open file %s for writing!", kDumpName);
  } else {
    LogStatus("Opened %s successfully, dumping partition map:", kDumpName);
  }
}

DumpFile::~DumpFile() {
  if (file_ == nullptr) return;
  whole_ &= std::fclose(file_) == 0;  // the last lines are written here
  if (!whole_) {
    LogStatus("Unable to write file %s: the partition map in it is incomplete!", kDumpName);
  }
}

void DumpFile::Header(uint32_t count, const PartitionMapEntry& first) {
  if (file_ == nullptr) return;
  whole_ &= DumpPartitionMapHeader(file_, static_cast<int32_t>(TickCount())) != 0;
  Section(0, count, first);
}

void DumpFile::Section(uint32_t index, uint32_t count, const PartitionMapEntry& entry) {
  if (file_ == nullptr) return;
  whole_ &= DumpPartitionSection(file_, static_cast<int32_t>(index),
                                 static_cast<int32_t>(count - 1), entry) != 0;
}

void DumpFile::FirmwareLine() {
  static const char kLine[] = "**> Firmware partition\n";
  if (file_ != nullptr) {
    whole_ &= std::fwrite(kLine, 1, sizeof kLine - 1, file_) == sizeof kLine - 1;
  }
}
