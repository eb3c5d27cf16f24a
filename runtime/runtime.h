// Language runtime: program start and end, the exit routine, the last error
// number and the process-wide context storage.
#pragma once
#include <cstddef>
#include <cstdint>

namespace pel {

// Stores the command line and the dialect; the dialect picks the default
// random generator.
void runtimeInit(int argc, char** argv, int32_t dialect);
// Runs the exit routine if one is registered, then ends the process.
[[noreturn]] void runtimeEnd(int32_t status);

int32_t runtimeDialect();
int runtimeArgc();
char** runtimeArgv();

// One routine run by runtimeEnd; null clears the slot.
using ExitRoutine = void (*)();
void setExitRoutine(ExitRoutine routine);
ExitRoutine exitRoutine();

// The last error number: 0 success, 1 invalid call, 4 nothing read.
int32_t lastError();
// Stores and returns the error number, so callers can `return setLastError(e)`.
int32_t setLastError(int32_t error);

// Record slots of the context storage, each created zero-filled on first use.
enum class ContextSlot : int { Draw = 0, Count = 4 };
// The record of `slot`, allocated zero-filled with `bytes` on first use.
// Records live for the whole process. Null only if the allocation fails.
void* contextRecord(ContextSlot slot, std::size_t bytes);

}  // namespace pel
