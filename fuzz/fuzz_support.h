// What every fuzz target shares: a scratch folder the process works in, a
// guard that keeps the tools from changing anything outside it, and sinks
// for the tools' console output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

namespace krffuzz {

// Creates a fresh scratch folder (under /dev/shm when it exists, for speed,
// else under TMPDIR or /tmp), makes it the working directory and arms the
// write guard on it. Standard input becomes /dev/null, so no tool ever
// waits for a key. Call once, from LLVMFuzzerInitialize with its arguments:
// the relative paths among libFuzzer's arguments (corpus folders, the
// artifact prefix) are made absolute first, so they keep naming the places
// the user meant.
void EnterScratch(int* argc, char*** argv);

// Writes a palette.lmp of 768 bytes for the converters.
void WritePalette();

// Removes everything below the scratch folder except the names in `keep`.
void ClearScratch(const std::vector<std::string>& keep = {});

// Writes `size` bytes at `data` to `name` in the scratch folder; aborts
// when that fails (the target could not test anything).
void WriteInput(const std::string& name, const uint8_t* data, size_t size);

// Reads a whole file below the scratch folder; false when it is missing.
bool ReadBack(const std::string& name, std::vector<uint8_t>* out);

// Console sinks that drop everything.
std::FILE* NullFile();
std::ostream& NullStream();

// Ends the process with a report on standard error: a finding.
[[noreturn]] void Finding(const std::string& what);

}  // namespace krffuzz
