#include "tests/support/StepScripts.h"

#include "net/MakerSite.h"
#include "tests/support/TestFiles.h"

namespace {

std::string Label(int step, int slot, int page) {
  return ControlLines(step, slot,
                      "type.1;x.450;y.38;width.110;height.18;value.page " + std::to_string(page));
}

std::string StatusLog(int step, int slot) {
  return ControlLines(step, slot, "type.6;x.212;y.205;width.355;height.100;dest.5345");
}

}  // namespace

std::string StepLine(int step, const std::string& key, const std::string& value) {
  return "step" + std::to_string(step) + "." + key + "." + value + "\n";
}

std::string ControlLines(int step, int slot, const std::string& fields) {
  std::string lines;
  size_t at = 0;
  while (at < fields.size()) {
    size_t end = fields.find(';', at);
    if (end == std::string::npos) end = fields.size();
    lines += StepLine(step, "controls" + std::to_string(slot), fields.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

std::string WithoutSearch(const std::string& text) {
  std::string script;
  for (int step = 1; step <= 10; ++step) script += StepLine(step, "runOldWindows", "1");
  return script + text;
}

std::string PagedScript(int pages, const std::string& extra, int declared) {
  std::string script = "steps " + std::to_string(declared < 0 ? pages : declared) + "\n";
  for (int n = 1; n <= pages; ++n) {
    script += StepLine(n, "title", "Page %d of %d") + StepLine(n, "numcontrols", "1") +
              ControlLines(
                  n, 1, "type.1;x.210;y.250;width.200;height.20;value.page " + std::to_string(n));
  }
  return script + extra + "end\n";
}

std::string RoadScript(const std::vector<std::string>& addresses, const std::string& extra) {
  std::string script = "steps 4\n";
  // Page 1: every kind of control but the push buttons.
  script += StepLine(1, "title", "Welcome~Step %d of %d") + StepLine(1, "textboxtop", "1") +
            StepLine(1, "text", "This wizard brings new firmware to your zAze.") +
            StepLine(1, "forward", "1");
  script +=
      Label(1, 1, 1) + StatusLog(1, 2) +
      ControlLines(1, 3, "type.2;x.212;y.110;width.160;height.90;selected.1;value.Slow~Fast") +
      ControlLines(1, 4, "type.3;x.380;y.110;width.185;height.22;value.zAze serial") +
      ControlLines(1, 5,
                   "type.7;x.212;y.140;width.160;height.90;selected.0;value.Europe eu~Asia as") +
      ControlLines(1, 6, "type.5;selected.9;value.an action that does nothing");
  int slot = 7;
  for (const std::string& address : addresses) {
    script += ControlLines(1, slot++, "type.5;selected.5;value." + address);
  }
  script += StepLine(1, "numcontrols", std::to_string(slot - 1));
  // Page 2: the file choice and the maker's site.
  script +=
      StepLine(2, "title", "Choose the firmware~Step %d of %d") + StepLine(2, "textboxtop", "1") +
      StepLine(2, "text", "Pick the firmware image, then press Next.") + StepLine(2, "back", "1") +
      StepLine(2, "numcontrols", "5") + Label(2, 1, 2) +
      ControlLines(2, 2, "type.4;x.212;y.110;width.140;height.26;value.Browse for file") +
      ControlLines(2, 3, "type.4;x.360;y.110;width.200;height.26;value." ZEPHLAR_VISIT_CAPTION) +
      ControlLines(2, 4, "type.4;x.212;y.145;width.140;height.26;value.Read me") + StatusLog(2, 5);
  // Page 3: the update starts when Next arrives here.
  script += StepLine(3, "title", "Updating~Step %d of %d") + StepLine(3, "back", "1") +
            StepLine(3, "forward", "1") + StepLine(3, "numcontrols", "4") + Label(3, 1, 3) +
            ControlLines(3, 2, "type.4;x.212;y.110;width.140;height.26;value.Browse for file") +
            ControlLines(3, 3, "type.5;selected.6") + ControlLines(3, 4, "type.5;selected.6");
  // Page 4: the end.
  script += StepLine(4, "title", "Done~Step %d of %d") + StepLine(4, "textboxtop", "1") +
            StepLine(4, "text", "The zAze has its new firmware.") + StepLine(4, "back", "1") +
            StepLine(4, "finish", "1") + StepLine(4, "numcontrols", "1") + Label(4, 1, 4);
  return script + extra + "end\n";
}

std::string ShippedScriptWith(const std::string& lines) {
  std::string script = ReadWholeFile(ZEPHLAR_DEFAULT_SCRIPT);
  const size_t end = script.find("\nend");
  return end == std::string::npos ? script : script.insert(end + 1, lines);
}
