#include <gtest/gtest.h>

#include "gfx/driver.h"

using namespace pel;

namespace {
int32_t fakeInit(const char*, int32_t, int32_t, int32_t, int32_t, int32_t) { return 1; }
const DisplayDriver fake = {.name = "Fake", .init = fakeInit};
const DisplayDriver* const fakeList[] = {&fake, nullptr};
}  // namespace

TEST(Driver, NullBackEndFillsOnlyNameLockAndUnlock) {
  EXPECT_STREQ(nullDriver.name, "Null");
  EXPECT_NE(nullDriver.lock, nullptr);
  EXPECT_NE(nullDriver.unlock, nullptr);
  nullDriver.lock();
  nullDriver.unlock();
  EXPECT_EQ(nullDriver.init, nullptr);
  EXPECT_EQ(nullDriver.exit, nullptr);
  EXPECT_EQ(nullDriver.setPalette, nullptr);
  EXPECT_EQ(nullDriver.getMouse, nullptr);
  EXPECT_EQ(nullDriver.setWindowTitle, nullptr);
  EXPECT_EQ(nullDriver.flip, nullptr);
  EXPECT_EQ(nullDriver.pollEvents, nullptr);
  EXPECT_EQ(nullDriver.rowsMarked, nullptr);
}

TEST(Driver, TableHasFifteenEntries) {
  static_assert(sizeof(DisplayDriver) == 15 * sizeof(void*));
}

TEST(Driver, ListCanBeSubstitutedAndRestored) {
  const DisplayDriver* const* platform = backendList();
  for (const DisplayDriver* const* d = platform; *d; ++d) EXPECT_STRNE((*d)->name, "Null");
  setBackendList(fakeList);
  EXPECT_EQ(backendList()[0], &fake);
  EXPECT_EQ(backendList()[1], nullptr);
  setBackendList(nullptr);
  EXPECT_EQ(backendList(), platform);
}
