// The browser host in process: address fix-up, finding the engine, the
// notification that comes once, the load limit, large pictures over the pipe
// and a clean end.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <filesystem>

#include "browser/WebBrowser.h"
#include "tests/app/Runner.h"
#include "tests/app/TestServer.h"
#include "tests/support/TempDir.h"

namespace vornesk {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::TestServer;

// Runs the event loop until `done` holds or `limit` has passed.
bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (!done() && std::chrono::steady_clock::now() < until) {
    QEventLoop loop;
    QTimer::singleShot(10, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return done();
}

TEST(FixUpAddress, GivesAddressesWithoutASchemeOne) {
  TempDir dir;
  const std::string page = dir.File("a page.html");
  testing::WriteFileBytes(page, "<p>");
  EXPECT_EQ(FixUpAddress(page), "file://" + dir.Path().string() + "/a%20page.html");
  struct Case {
    const char* given;
    const char* taken;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"example.org", "http://example.org"},
           {"127.0.0.1:8080/page.html", "http://127.0.0.1:8080/page.html"},
           {"localhost:3000", "http://localhost:3000"},
           {"http://example.org/", "http://example.org/"},
           {"https://example.org/", "https://example.org/"},
           {"file:///etc/hostname", "file:///etc/hostname"},
           {"about:blank", "about:blank"},
           {"data:text/html,<p>x</p>", "data:text/html,<p>x</p>"},
           {"no/such/page.html", "http://no/such/page.html"},
       })
    EXPECT_EQ(FixUpAddress(c.given), c.taken) << c.given;
}

TEST(FindBrowser, TakesTheProgramThatVorneskBrowserNames) {
  TempDir dir;
  const std::string program = dir.File("my-browser");
  testing::WriteFileBytes(program, "#!/bin/sh\n");
  chmod(program.c_str(), 0755);
  const std::string oldPath = getenv("PATH");
  setenv("PATH", (dir.Path().string() + ":" + oldPath).c_str(), 1);
  setenv("VORNESK_BROWSER", "my-browser", 1);
  const TBrowserExecutable found = FindBrowser();
  setenv("VORNESK_BROWSER", "/no/such/browser", 1);
  EXPECT_THROW(FindBrowser(), EBrowserError);
  unsetenv("VORNESK_BROWSER");
  setenv("PATH", oldPath.c_str(), 1);
  EXPECT_EQ(found.path, program);
  // The headless shell comes first.
  EXPECT_EQ(FindBrowser().path, "/usr/lib/chromium/chromium-headless-shell");
}

TEST(BrowserArguments, TurnTheSandboxOffOnlyForRoot) {
  const TBrowserExecutable shell{"/usr/lib/chromium/chromium-headless-shell"};
  const auto has = [](const std::vector<std::string>& arguments, const std::string& argument) {
    return std::find(arguments.begin(), arguments.end(), argument) != arguments.end();
  };
  EXPECT_TRUE(has(BrowserArguments(shell, "/p", true), "--no-sandbox"));
  const auto user = BrowserArguments(shell, "/p", false);
  EXPECT_FALSE(has(user, "--no-sandbox"));
  EXPECT_TRUE(has(user, "--remote-debugging-pipe"));
  EXPECT_TRUE(has(user, "--user-data-dir=/p"));
}

class Browser : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TMPDIR", tmp_.Path().c_str(), 1);
    browser_.OnNavigateComplete2 = [this] { ++completions_; };
    browser_.OnError = [this](std::exception_ptr error) {
      try {
        std::rethrow_exception(error);
      } catch (const std::exception& e) {
        errors_.push_back(e.what());
      }
    };
    browser_.OnWarning = [this](const std::string& text) { warnings_.push_back(text); };
  }
  void TearDown() override {
    browser_.Close();
    unsetenv("TMPDIR");
    EXPECT_TRUE(fs::is_empty(tmp_.Path())) << "the profile was left behind";
    EXPECT_TRUE(testing::ChildProcesses().empty()) << "a browser process was left behind";
  }

  TempDir tmp_;
  TWebBrowser browser_;
  int completions_ = 0;
  std::vector<std::string> errors_;
  std::vector<std::string> warnings_;
};

TEST_F(Browser, ReportsNavigationCompleteOnceForAPageWithFrames) {
  TestServer server;
  server.Route("/frame.html", {.body = "<p>frame</p>"});
  server.Route("/page.html", {.body = "<iframe src='/frame.html'></iframe>"
                                      "<iframe src='/frame.html?2'></iframe>"});
  browser_.SetBounds(204, 104);
  browser_.Navigate(server.Url("/page.html"));
  ASSERT_TRUE(
      RunUntil([&] { return completions_ > 0 || !errors_.empty(); }, std::chrono::seconds(20)));
  RunUntil([] { return false; }, std::chrono::milliseconds(500));
  EXPECT_EQ(completions_, 1);
  EXPECT_TRUE(errors_.empty());
  EXPECT_TRUE(warnings_.empty());
  EXPECT_TRUE(browser_.HasDocument());
}

TEST_F(Browser, CapturesAPageThatNeverFinishesLoadingWhenTheLimitRunsOut) {
  TestServer server;
  server.Route("/never.png", {.body = "", .hang = true});
  server.Route("/page.html", {.body = "<body style='margin: 0; background: rgb(0, 0, 255)'>"
                                      "<img src='/never.png'></body>"});
  // Long enough for the page itself to arrive on a busy machine (before it
  // does there is nothing to capture): only its image never comes.
  browser_.LoadLimit = std::chrono::milliseconds(3000);
  browser_.SetBounds(24, 14);
  browser_.Navigate(server.Url("/page.html"));
  ASSERT_TRUE(RunUntil([&] { return completions_ > 0; }, std::chrono::seconds(20)));
  ASSERT_EQ(warnings_.size(), 1u);
  EXPECT_NE(warnings_[0].find("had not finished loading"), std::string::npos);
  TBitmap raster(24, 14);
  browser_.Draw(raster);
  const std::uint8_t* pixel = raster.ScanLine(7) + 4 * 12;
  EXPECT_EQ(pixel[0], 255);  // blue
  EXPECT_EQ(pixel[1], 0);
  EXPECT_EQ(pixel[2], 0);
}

TEST_F(Browser, APageThatNeverAnswersIsAnErrorWhenTheLimitRunsOut) {
  TestServer server;
  server.Route("/silent.html", {.body = "", .hang = true});
  browser_.LoadLimit = std::chrono::milliseconds(1000);
  browser_.SetBounds(24, 14);
  browser_.Navigate(server.Url("/silent.html"));
  ASSERT_TRUE(
      RunUntil([&] { return !errors_.empty() || completions_ > 0; }, std::chrono::seconds(20)));
  EXPECT_EQ(completions_, 0);
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_EQ(errors_[0], "The page did not answer within 1 seconds");
  EXPECT_FALSE(browser_.HasDocument());
}

TEST_F(Browser, DrawsLargeNoisyPicturesExactly) {
  // Noise does not compress: the picture crosses the pipe as many megabytes.
  constexpr int kWidth = 1200, kHeight = 900;
  TestServer server;
  server.Route("/noise.html", {.body = R"x(<body style="margin: 0"><canvas id="c"></canvas><script>
const c = document.getElementById('c'); c.width = innerWidth; c.height = innerHeight;
c.style.display = 'block';
const g = c.getContext('2d'); const d = g.createImageData(c.width, c.height);
let s = 2463534242;
for (let i = 0; i < d.data.length; i += 4) {
  s ^= s << 13; s >>>= 0; s ^= s >>> 17; s ^= s << 5; s >>>= 0;
  d.data[i] = s & 255; d.data[i + 1] = (s >>> 8) & 255; d.data[i + 2] = (s >>> 16) & 255; d.data[i + 3] = 255;
}
g.putImageData(d, 0, 0);
</script></body>)x"});
  browser_.SetBounds(kWidth, kHeight);
  browser_.Navigate(server.Url("/noise.html"));
  ASSERT_TRUE(
      RunUntil([&] { return completions_ > 0 || !errors_.empty(); }, std::chrono::seconds(30)));
  ASSERT_TRUE(errors_.empty()) << errors_[0];
  TBitmap raster(kWidth, kHeight);
  browser_.Draw(raster);
  std::uint32_t s = 2463534242u;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      s ^= s << 13;
      s ^= s >> 17;
      s ^= s << 5;
      const std::uint8_t* pixel = raster.ScanLine(y) + 4 * x;
      ASSERT_EQ(pixel[2], s & 255) << x << ", " << y;
      ASSERT_EQ(pixel[1], (s >> 8) & 255) << x << ", " << y;
      ASSERT_EQ(pixel[0], (s >> 16) & 255) << x << ", " << y;
    }
}

TEST_F(Browser, AbortEndsAWaitWithoutAnError) {
  TestServer server;
  server.Route("/page.html", {.body = "<p>page</p>"});
  browser_.SetBounds(104, 104);
  browser_.Navigate(server.Url("/page.html"));
  ASSERT_TRUE(RunUntil([&] { return completions_ > 0; }, std::chrono::seconds(20)));
  QTimer::singleShot(100, [this] { browser_.Abort(); });
  EXPECT_THROW(browser_.Evaluate("new Promise(() => {})"), EAbort);
}

}  // namespace
}  // namespace vornesk

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  QCoreApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
