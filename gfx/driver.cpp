#include "driver.h"

namespace pel {
namespace {

// Back ends of this platform, in the order tried; entries join as they land.
constexpr const DisplayDriver* platformBackends[] = {nullptr};

const DisplayDriver* const* activeList = platformBackends;

}  // namespace

const DisplayDriver* const* backendList() { return activeList; }

void setBackendList(const DisplayDriver* const* list) { activeList = list ? list : platformBackends; }

}  // namespace pel
