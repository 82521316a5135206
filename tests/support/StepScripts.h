// Step scripts for the tests, as text to write as steps.stp: lines built
// from their keys, and the scripts many tests open the wizard on.
#pragma once

#include <string>
#include <vector>

// "step<step>.<key>.<value>" and a line feed.
std::string StepLine(int step, const std::string& key, const std::string& value);
// The lines of control `slot` of page `step`: `fields` as "key.value" pairs
// separated by ';'.
std::string ControlLines(int step, int slot, const std::string& fields);

// `text` after lines that set runOldWindows on every step, so that no
// opening searches for the zAze, whichever page it shows first.
std::string WithoutSearch(const std::string& text);

// A script of `pages` pages, page N titled "Page N of <count>" and holding
// one label "page N", followed by `extra` lines (which override) and "end".
// The "steps" line declares `declared` steps, or `pages` when negative.
std::string PagedScript(int pages, const std::string& extra = "", int declared = -1);

// The pages of a full run: 1 welcome (every kind of control but the buttons,
// the log, and a FetchSources action for each of `addresses`), 2 the file
// choice (Browse, the visit button, another button, the log), 3 the update
// (a StartUpdate action, twice, and a Browse button in the slot of page 2's,
// so that a click on page 2's button during the update names one on the
// step then current), 4 the last page. Every page carries a "page N" label;
// `extra` lines come before "end" and override.
std::string RoadScript(const std::vector<std::string>& addresses, const std::string& extra = "");

// The step script that ships, with `lines` read just before its "end" line,
// where they override what the script set.
std::string ShippedScriptWith(const std::string& lines);
