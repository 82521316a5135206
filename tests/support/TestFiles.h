// Scratch files for tests, named after the running test so that tests run
// in parallel (natively and under Wine) never share a file.
#pragma once

#include <string>

// Name of a scratch file for the running test: "<suite>.<test>.<suffix>".
std::string TestFileName(const std::string& suffix);

// Writes `bytes` to the scratch file and returns its name.
std::string WriteTestFile(const std::string& suffix, const std::string& bytes);

// Reads a whole file; an empty string when it cannot be read.
std::string ReadWholeFile(const std::string& name);
