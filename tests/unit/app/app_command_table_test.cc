// The host's command table leaves no command without its handler.

#include <array>
#include <bit>
#include <cstdint>

#include "app/command_table.h"
#include "tests/unit/core/test_support.h"

namespace {

// The table is function pointers only, so it reads as an array of them.
using Slots = std::array<std::uintptr_t, sizeof(CommandTable) / sizeof(std::uintptr_t)>;
static_assert(sizeof(CommandTable) == sizeof(Slots));

TEST(AppCommandTable, EveryFieldIsFilled) {
  ASSERT_EQ(std::bit_cast<Slots>(CommandTable{}), Slots{}) << "an empty field must read as 0";
  const Slots slots = std::bit_cast<Slots>(app_command_table());
  for (size_t i = 0; i < slots.size(); ++i) EXPECT_NE(slots[i], 0u) << "field " << i << " of the table is empty";
}

}  // namespace
