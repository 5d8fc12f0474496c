// Where the program's strip lands on a scaled display. The window must lie wholly on the
// screen with its bottom-right corner on the bottom-right corner of the work area (the whole
// screen: Xvfb runs no window manager), 402x39 logical pixels, and the options dialog,
// opened with the gear button, must show centred on the screen.
//
// With PLACEMENT_SHOT_DIR set, screenshots of the strip and the dialog are written there.
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "harness.h"

namespace bb {
namespace {

class Placement : public Harness {
 protected:
  void SetUp() override {
    Harness::SetUp();
    BB_NEED(missing_tools({"Xvfb", "xdotool", "xwininfo", "xrdb"}));
    // In a namespace of its own the lookups reach echo_server; without one (not root) they
    // go to a proxy where nothing listens, never to a real address-echo service.
    if (enter_namespace().empty()) {
      ASSERT_TRUE(start_echo_server());
    } else {
      offline_ = {"http_proxy=http://127.0.0.1:9"};
    }
  }

  void shot(const char* name, const Geometry& g) {
    const char* dir = std::getenv("PLACEMENT_SHOT_DIR");
    if (!dir) return;
    fs::create_directories(dir);
    run({"import", "-window", "root", "-crop",
         std::to_string(g.w) + "x" + std::to_string(g.h) + "+" + std::to_string(g.x) + "+" +
             std::to_string(g.y),
         std::string(dir) + "/" + name + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".png"});
  }

  void check(const std::string& screen, int scale, int dpi = 0) {
    ASSERT_TRUE(start_xvfb(screen + "x24")) << read_file(work_ / "xvfb.out");
    if (dpi) {
      write_file(work_ / "xrdb", "Xft.dpi: " + std::to_string(dpi) + "\n");
      ASSERT_EQ(run({"xrdb", "-merge", work_ / "xrdb"}).status, 0);
    }
    std::vector<std::string> env = offline_;
    env.push_back("GDK_SCALE=" + std::to_string(scale));
    // A UTF-8 locale, as on a desktop; the BlackBox tests run the program in the C locale.
    env.push_back("LANG=C.UTF-8");
    start_program({}, env);
    std::string id;
    ASSERT_TRUE(wait_until(20s, [&] { return !(id = find_window("^Addrova")).empty(); }))
        << "no window appeared: " << read_file(work_ / "program.out");
    std::this_thread::sleep_for(1s);  // placed once shown: let the move land
    const Geometry g = geometry(id);
    int sw = 0, sh = 0;
    std::sscanf(run({"xdotool", "getdisplaygeometry"}).text.c_str(), "%d %d", &sw, &sh);
    std::printf("window %dx%d at %d,%d on a %dx%d screen (GDK_SCALE=%d, Xft.dpi %d)\n", g.w, g.h,
                g.x, g.y, sw, sh, scale, dpi);
    EXPECT_TRUE(g.x >= 0 && g.y >= 0 && g.x + g.w <= sw && g.y + g.h <= sh)
        << "the window is not wholly on the screen";
    EXPECT_EQ(g.x + g.w, sw) << "the window does not touch the right edge";
    EXPECT_EQ(g.y + g.h, sh) << "the window does not touch the bottom edge";
    EXPECT_EQ(g.w, 402 * scale);
    EXPECT_EQ(g.h, 39 * scale);
    shot("placement", g);

    // The gear button sits at 364,4 (32x30) in the strip's client area.
    run({"xdotool", "mousemove", std::to_string(g.x + 380 * scale),
         std::to_string(g.y + 19 * scale), "click", "1"});
    std::string dialog;
    ASSERT_TRUE(wait_until(10s, [&] { return !(dialog = find_window("^設定$")).empty(); }))
        << "the options dialog did not open";
    std::this_thread::sleep_for(500ms);
    const Geometry d = geometry(dialog);
    std::printf("dialog %dx%d at %d,%d\n", d.w, d.h, d.x, d.y);
    EXPECT_NEAR(d.x, (sw - d.w) / 2, 1) << "the options dialog is not centred";
    EXPECT_NEAR(d.y, (sh - d.h) / 2, 1) << "the options dialog is not centred";
    shot("dialog", d);
  }

  std::vector<std::string> offline_;
};

TEST_F(Placement, Scale1) {
  check("1280x1024", 1);
}
// A 1280x800 logical screen.
TEST_F(Placement, Scale2) {
  check("2560x1600", 2);
}
// Larger fonts.
TEST_F(Placement, Dpi144) {
  check("1280x1024", 1, 144);
}

}  // namespace
}  // namespace bb
