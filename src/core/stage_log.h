#pragma once
// Moments of a run written to the file that the environment variable
// VAULTKIN_STAGE_LOG (Wine passes no variable beginning with "VK_" on)
// names, one line each: seconds since 1970 (UTC, to the millisecond) and a label.
// The benchmark lays them beside what it sees from outside; without the variable
// nothing is written.

namespace vk {

void LogStage(const char* label);

}  // namespace vk
