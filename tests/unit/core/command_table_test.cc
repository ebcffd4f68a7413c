// A command whose table field is empty: its lines are let go, said in debug mode,
// and the lines around them still reach their handlers.

#include <memory>
#include <string>
#include <vector>

#include "core/command_table.h"
#include "core/debug_notes.h"
#include "core/settings.h"
#include "test_support.h"

namespace {

std::vector<std::string> g_seen;

void record_title(void*, std::unique_ptr<std::string> title) { g_seen.push_back("title " + *title); }
void record_quit(void*) { g_seen.push_back("quit"); }

class PartialCommands : public FakeDesktopTest {
 protected:
  CommandTable commands() const override {
    CommandTable t;
    t.title = command<record_title>;
    t.quit = command<record_quit>;
    return t;
  }
  void TearDown() override {
    settings().debug_on = false;
    g_seen.clear();
    FakeDesktopTest::TearDown();
  }
};

TEST_F(PartialCommands, LinesOfCommandsWithoutAHandlerAreLetGo) {
  debug_notes_reset_for_tests();
  settings().debug_on = true;
  testing::internal::CaptureStderr();
  CommandReader reader;
  for (const char* l : {"TITLE a", "GET g1 battery", "AITOOLRESULT 3 x", "RELOAD", "PRINT", "TITLE b", "QUIT"})
    reader.handle_line(l);
  desktop.queue.drain();
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_EQ(g_seen, (std::vector<std::string>{"title a", "title b", "quit"}));
  EXPECT_EQ(said,
            "quibex: debug: GET g1 battery: no handler (said once per command)\n"
            "quibex: debug: AITOOLRESULT 3 x: no handler (said once per command)\n"
            "quibex: debug: RELOAD: no handler (said once per command)\n"
            "quibex: debug: PRINT: no handler (said once per command)\n");
}

}  // namespace
