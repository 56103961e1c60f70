// The chunk loop's fuzz target, callable from the replaying tests.
#pragma once

#include <AU/AuTypes.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace banktest {

// Reads the input as a bank every way the fuzz target does (from memory in each load mode, in
// place and copied, and through a stream) and returns each read's result.
std::vector<AURESULT> ReadBankEveryWay(const uint8_t* data, size_t size);

} // namespace banktest
