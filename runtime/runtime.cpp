#include "runtime.h"

#include <array>
#include <cstdlib>

#include "console.h"
#include "random.h"

namespace pel {
namespace {

struct StartRecord {
  int argc = 0;
  char** argv = nullptr;
  int32_t dialect = 0;
};

StartRecord startRecord;
ExitRoutine exitSlot = nullptr;
int32_t lastErrorNumber = 0;
std::array<void*, static_cast<std::size_t>(ContextSlot::Count)> contextSlots{};

}  // namespace

void runtimeInit(int argc, char** argv, int32_t dialect) {
  startRecord = {argc, argv, dialect};
  resetRandom();
}

void runtimeEnd(int32_t status) {
  if (ExitRoutine routine = exitSlot) routine();
  terminalRestore();
  std::exit(status);
}

int32_t runtimeDialect() { return startRecord.dialect; }
int runtimeArgc() { return startRecord.argc; }
char** runtimeArgv() { return startRecord.argv; }

void setExitRoutine(ExitRoutine routine) { exitSlot = routine; }
ExitRoutine exitRoutine() { return exitSlot; }

int32_t lastError() { return lastErrorNumber; }
int32_t setLastError(int32_t error) {
  lastErrorNumber = error;
  return error;
}

void* contextRecord(ContextSlot slot, std::size_t bytes) {
  void*& record = contextSlots[static_cast<std::size_t>(slot)];
  if (!record) record = std::calloc(1, bytes);
  return record;
}

}  // namespace pel
