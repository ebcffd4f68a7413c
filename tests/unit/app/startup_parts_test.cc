// The features' start-up parts as main() installs them (the harness does the
// same): each phase hands start-up's settings to the feature that needs them.

#include "ai/model_server.h"
#include "core/startup_phases.h"
#include "services/permissions.h"
#include "webui/menu_bar.h"
#include "tests/unit/core/window_test_support.h"

namespace {

class StartupParts : public WindowTest {
 protected:
  void TearDown() override {
    ai_set_server_config({});
    g_location_usage_described = false;
    menu_bars_reset_for_tests();
    WindowTest::TearDown();
  }
};

}  // namespace

TEST_F(StartupParts, PhasesHandTheSettingsToTheFeatures) {
  StartupSettings s;
  s.ai_url = "http://127.0.0.1:8080";
  s.ai_model = "tiny";
  s.ai_remote = true;
  platform::PlistDict info;
  info.strings = {{"NSLocationWhenInUseUsageDescription", "for the map"}};
  const StartupInfo start{s, info};
  const StartupPhases& phases = startup_phases();

  run_startup_phase(phases.settings_applied, start);
  const AiServerConfig ai = ai_server_config();
  EXPECT_EQ(ai.url, "http://127.0.0.1:8080");
  EXPECT_EQ(ai.model, "tiny");
  EXPECT_TRUE(ai.allow_remote);

  run_startup_phase(phases.windows_ready, start);
  EXPECT_TRUE(g_location_usage_described);

  // The main window shows the application's default bar before its page loads.
  EXPECT_FALSE(main_window()->menu_bar);
  run_startup_phase(phases.before_page, start);
  EXPECT_TRUE(main_window()->menu_bar);
}
