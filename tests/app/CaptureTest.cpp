// End to end: the installed program against pages served on 127.0.0.1 and
// against local files, checked through the files it writes, its messages,
// its exit status and what it leaves behind.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "tests/app/Images.h"
#include "tests/app/Runner.h"
#include "tests/app/TestServer.h"
#include "tests/support/TempDir.h"

namespace vornesk::testing {
namespace {

namespace fs = std::filesystem;

const std::string kVornesk = VORNESK_EXECUTABLE;

// Every pixel's colour is its own position: red the low byte of x, green the
// low byte of y, blue the high nibbles of both. A shifted, scaled, mirrored
// or colour-managed picture cannot pass for it.
const char* const kCoordinatePage = R"(<!DOCTYPE html>
<html><head><style>html, body { margin: 0 } canvas { display: block }</style></head>
<body><canvas id="c"></canvas><script>
const canvas = document.getElementById('c');
const w = innerWidth, h = innerHeight;
canvas.width = w; canvas.height = h;
const context = canvas.getContext('2d');
const data = context.createImageData(w, h);
for (let y = 0; y < h; ++y)
  for (let x = 0; x < w; ++x) {
    const i = 4 * (y * w + x);
    data.data[i] = x & 255;
    data.data[i + 1] = y & 255;
    data.data[i + 2] = ((x >> 8) & 15) | (((y >> 8) & 15) << 4);
    data.data[i + 3] = 255;
  }
context.putImageData(data, 0, 0);
</script></body></html>
)";

std::array<int, 3> CoordinateColour(int x, int y) {
  return {x & 255, y & 255, ((x >> 8) & 15) | (((y >> 8) & 15) << 4)};
}

bool IsEmptyFolder(const fs::path& folder) {
  return fs::is_empty(folder);
}

class Capture : public ::testing::Test {
 protected:
  void SetUp() override {
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    for (const char* folder : {"home", "tmp", "work", "pages"})
      fs::create_directory(dir_.Path() / folder);
  }

  // No test may leave a process, a profile or anything in HOME behind. The
  // test program is the subreaper of everything it starts, so a browser
  // process that outlived its vornesk is its child now.
  void TearDown() override {
    EXPECT_TRUE(IsEmptyFolder(Home())) << "HOME was written to";
    EXPECT_TRUE(IsEmptyFolder(Tmp())) << "a temporary profile was left behind";
    const std::vector<pid_t> left = ChildProcesses();
    EXPECT_TRUE(left.empty()) << left.size() << " processes survived the run";
    for (const pid_t pid : left) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }

  fs::path Home() const { return dir_.Path() / "home"; }
  fs::path Tmp() const { return dir_.Path() / "tmp"; }
  fs::path Work() const { return dir_.Path() / "work"; }
  std::string Out(const std::string& name) const { return (Work() / name).string(); }

  // A desktop session's runtime folder; without one Qt makes its own under
  // TMPDIR.
  std::string RuntimeFolder() {
    const fs::path folder = dir_.Path() / "runtime";
    fs::create_directory(folder);
    fs::permissions(folder, fs::perms::owner_all);
    return folder.string();
  }

  std::string Page(const std::string& name, const std::string& html) {
    const std::string path = (dir_.Path() / "pages" / name).string();
    WriteFileBytes(path, html);
    return path;
  }

  RunResult Run(const std::vector<std::string>& arguments, RunOptions options = {}) {
    options.directory = Work().string();
    options.environment.emplace("HOME", Home().string());
    options.environment.emplace("TMPDIR", Tmp().string());
    options.environment.emplace("DISPLAY", std::nullopt);
    options.environment.emplace("WAYLAND_DISPLAY", std::nullopt);
    options.environment.emplace("VORNESK_BROWSER", std::nullopt);
    return RunProgram(kVornesk, arguments, options);
  }

  TempDir dir_;
};

void ExpectCoordinates(const RgbImage& image, int width, int height) {
  ASSERT_TRUE(image.valid);
  ASSERT_EQ(image.width, width);
  ASSERT_EQ(image.height, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const auto expected = CoordinateColour(x + 2, y + 2);
      const std::uint8_t* pixel = image.At(x, y);
      ASSERT_TRUE(pixel[0] == expected[0] && pixel[1] == expected[1] && pixel[2] == expected[2])
          << "pixel (" << x << ", " << y << ") is " << int(pixel[0]) << "," << int(pixel[1]) << ","
          << int(pixel[2]) << ", expected " << expected[0] << "," << expected[1] << ","
          << expected[2];
    }
}

RgbImage ReadImage(const std::string& path) {
  const std::string extension = path.substr(path.rfind('.'));
  if (extension == ".png") return ReadPng(path);
  if (extension == ".jpg") return ReadJpeg(path);
  return ReadBmp(path);
}

struct SizeCase {
  int width;
  int height;
  const char* extension;
};

void PrintTo(const SizeCase& c, std::ostream* out) {
  *out << c.width << " x " << c.height << " " << c.extension;
}

class PixelExactness : public Capture, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(PixelExactness, EveryPixelComesFromItsPlaceInThePage) {
  const SizeCase& c = GetParam();
  const std::string page = Page("coordinates.html", kCoordinatePage);
  const std::string output = Out(std::string("shot") + c.extension);
  const RunResult run =
      Run({"file://" + page, std::to_string(c.width), std::to_string(c.height), output});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "");
  ExpectCoordinates(ReadImage(output), c.width, c.height);
}

std::vector<SizeCase> ExactCases() {
  std::vector<SizeCase> cases;
  for (const char* extension : {".bmp", ".png"})
    for (const auto& [width, height] :
         std::vector<std::pair<int, int>>{{333, 77}, {1, 1}, {640, 301}})
      cases.push_back({width, height, extension});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Sizes, PixelExactness, ::testing::ValuesIn(ExactCases()),
                         [](const auto& info) {
                           return std::to_string(info.param.width) + "x" +
                                  std::to_string(info.param.height) + "_" +
                                  (info.param.extension + 1);
                         });

TEST_F(Capture, JpegDecodesToThePageWithinJpegError) {
  const std::string page = Page("coordinates.html", kCoordinatePage);
  const RunResult run = Run({"file://" + page, "333", "77", Out("shot.jpg")});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const RgbImage image = ReadJpeg(Out("shot.jpg"));
  ASSERT_TRUE(image.valid);
  ASSERT_EQ(image.width, 333);
  ASSERT_EQ(image.height, 77);
  double totalError = 0;
  int largeErrors = 0;
  for (int y = 0; y < 77; ++y)
    for (int x = 0; x < 333; ++x) {
      const auto expected = CoordinateColour(x + 2, y + 2);
      for (int channel = 0; channel < 3; ++channel) {
        const int error = std::abs(image.At(x, y)[channel] - expected[channel]);
        totalError += error;
        if (error > 24) ++largeErrors;
      }
    }
  // Quality 100 is close everywhere but at the few sharp steps of the
  // pattern (where x or y wraps past 255).
  EXPECT_LT(totalError / (333.0 * 77 * 3), 2.0);
  EXPECT_LT(largeErrors, 333 * 77 * 3 / 100);
}

TEST_F(Capture, OnlyAnAddressGivesA1024By768OutPngInTheCurrentFolder) {
  const std::string page = Page("coordinates.html", kCoordinatePage);
  const RunResult run = Run({page});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
  ExpectCoordinates(ReadPng(Out("out.png")), 1024, 768);
}

TEST_F(Capture, APngWithoutPixelsIsRefusedAndNothingIsWritten) {
  const std::string page = Page("coordinates.html", kCoordinatePage);
  const RunResult run = Run({"file://" + page, "0", "48", Out("zero.png")});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err,
            "Vornesk\nCannot write a PNG image without pixels: its width or height is 0.\n");
  EXPECT_TRUE(IsEmptyFolder(Work()));
}

TEST_F(Capture, TheExtensionChoosesTheWriterInAnyLetterCase) {
  const std::string page = Page("coordinates.html", kCoordinatePage);
  const RunResult run = Run({"file://" + page, "33", "17", Out("Shot.PnG")});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ExpectCoordinates(ReadPng(Out("Shot.PnG")), 33, 17);
}

TEST_F(Capture, ContentAddedOnLoadAndLateImagesAreInTheCapture) {
  TestServer server;
  server.Route("/page.html", {.body = R"x(<!DOCTYPE html>
<html><body style="margin: 0; background: #fff">
<img src="/late.svg" style="position: absolute; left: 100px; top: 0; width: 50px; height: 50px">
<script>
addEventListener('load', () => {
  const box = document.createElement('div');
  box.style.cssText = 'position: absolute; left: 0; top: 0; width: 50px; height: 50px; background: rgb(255, 0, 0)';
  document.body.appendChild(box);
});
</script></body></html>)x"});
  server.Route("/late.svg",
               {.contentType = "image/svg+xml",
                .body = R"x(<svg xmlns="http://www.w3.org/2000/svg" width="50" height="50">)x"
                        R"x(<rect width="50" height="50" fill="rgb(0,0,255)"/></svg>)x",
                .delay = std::chrono::milliseconds(700)});
  const RunResult run = Run({server.Url("/page.html"), "200", "100", Out("shot.bmp")});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const RgbImage image = ReadBmp(Out("shot.bmp"));
  ASSERT_TRUE(image.valid);
  const std::uint8_t* box = image.At(20, 20);  // page (22, 22)
  EXPECT_EQ((std::array<int, 3>{box[0], box[1], box[2]}), (std::array<int, 3>{255, 0, 0}));
  const std::uint8_t* picture = image.At(120, 20);  // page (122, 22)
  EXPECT_EQ((std::array<int, 3>{picture[0], picture[1], picture[2]}),
            (std::array<int, 3>{0, 0, 255}));
  const std::uint8_t* blank = image.At(180, 80);
  EXPECT_EQ((std::array<int, 3>{blank[0], blank[1], blank[2]}),
            (std::array<int, 3>{255, 255, 255}));
}

TEST_F(Capture, APageLargerThanTheViewportShowsNoScrollBar) {
  // An address without a scheme: host and port get http:// in front.
  TestServer server;
  server.Route("/tall.html", {.body = R"x(<!DOCTYPE html>
<html><body style="margin: 0; background: rgb(0, 128, 0)">
<div style="width: 5000px; height: 5000px"></div></body></html>)x"});
  const RunResult run = Run(
      {"127.0.0.1:" + std::to_string(server.Port()) + "/tall.html", "300", "200", Out("shot.bmp")});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const RgbImage image = ReadBmp(Out("shot.bmp"));
  ASSERT_TRUE(image.valid);
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x) {
      const std::uint8_t* pixel = image.At(x, y);
      ASSERT_TRUE(pixel[0] == 0 && pixel[1] == 128 && pixel[2] == 0)
          << "pixel (" << x << ", " << y << ") is not the page's green";
    }
}

TEST_F(Capture, ADocumentWithoutABodyIsCapturedAsItIs) {
  TestServer server;
  server.Route("/drawing.svg",
               {.contentType = "image/svg+xml",
                .body = R"x(<svg xmlns="http://www.w3.org/2000/svg" width="2000" height="2000">)x"
                        R"x(<rect width="2000" height="2000" fill="rgb(0,0,255)"/></svg>)x"});
  const RunResult run = Run({server.Url("/drawing.svg"), "40", "30", Out("shot.bmp")});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const RgbImage image = ReadBmp(Out("shot.bmp"));
  ASSERT_TRUE(image.valid);
  const std::uint8_t* pixel = image.At(20, 15);
  EXPECT_EQ((std::array<int, 3>{pixel[0], pixel[1], pixel[2]}), (std::array<int, 3>{0, 0, 255}));
}

TEST_F(Capture, ADownloadIsNoPage) {
  TestServer server;
  server.Route("/file.bin", {.contentType = "application/octet-stream", .body = "data"});
  const RunResult run = Run({server.Url("/file.bin"), "40", "30", Out("shot.bmp")});
  EXPECT_EQ(run.exitCode, 1);
  // The headless shell refuses downloads outright.
  EXPECT_EQ(run.err, "Vornesk\nnet::ERR_ABORTED.\n");
  EXPECT_TRUE(IsEmptyFolder(Work()));
}

TEST_F(Capture, TheNumberRuleAndEmptyArgumentsHoldEndToEnd) {
  const std::string page = "file://" + Page("coordinates.html", kCoordinatePage);
  struct Case {
    std::vector<std::string> arguments;
    int width;
    int height;
  };
  for (const Case& c : std::initializer_list<Case>{
           {{page, "$320", "0x258", "hex.bmp"}, 800, 600},
           {{page, "", "800", "600", "empty.bmp"}, 800, 600},
           {{page, "50px", " 40", "units.bmp"}, 1024, 40},
           {{page, "0", "3", "nocolumns.bmp"}, 0, 3},
           {{page, "5", "0", "norows.jpg"}, 5, 0},
       }) {
    const RunResult run = Run(c.arguments);
    const std::string output = Out(c.arguments.back());
    ASSERT_EQ(run.exitCode, 0) << run.err;
    if (c.width == 0 || c.height == 0) {
      // An image without pixels is an empty BMP or JPEG file.
      EXPECT_EQ(fs::file_size(output), 0u);
      continue;
    }
    const RgbImage image = ReadBmp(output);
    EXPECT_EQ(image.width, c.width) << c.arguments.back();
    EXPECT_EQ(image.height, c.height) << c.arguments.back();
  }
}

struct ErrorCase {
  const char* name;
  std::vector<std::string>
      arguments;        // {page}, {refused}, {missing}: addresses; {work}: the current folder
  std::string message;  // what standard error must hold exactly
  int exitCode;
  std::map<std::string, std::optional<std::string>> environment{};
};

void PrintTo(const ErrorCase& c, std::ostream* out) {
  *out << c.name;
}

class Errors : public Capture, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(Errors, WriteNothingAndSayWhy) {
  ErrorCase c = GetParam();
  const std::string page = "file://" + Page("plain.html", "<p>plain</p>");
  const std::string refused = "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/";
  const std::string missing = "file://" + (dir_.Path() / "pages" / "missing.html").string();
  auto substitute = [&](std::string text) {
    for (const auto& [key, value] :
         std::initializer_list<std::pair<std::string, std::string>>{{"{page}", page},
                                                                    {"{refused}", refused},
                                                                    {"{missing}", missing},
                                                                    {"{work}", Work().string()}}) {
      for (std::size_t at; (at = text.find(key)) != std::string::npos;)
        text.replace(at, key.size(), value);
    }
    return text;
  };
  for (std::string& argument : c.arguments) argument = substitute(argument);
  c.message = substitute(c.message);
  // An older file at the output path survives a failed run.
  WriteFileBytes(Out("keep.bmp"), "older");

  RunOptions options;
  options.environment = c.environment;
  const RunResult run = Run(c.arguments, options);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, c.exitCode);
  EXPECT_EQ(run.err, c.message);
  EXPECT_EQ(run.out, "");
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(Work())) left.push_back(entry.path().filename());
  EXPECT_EQ(left, std::vector<std::string>{"keep.bmp"});
  EXPECT_EQ(ReadText(Out("keep.bmp")), "older");
}

const std::string kUsage =
    "Information\nPlease specify parameters, eg:\r\n\r\nvornesk https://example.org 1024 "
    "768\r\n\r\n"
    "Second and third parameters (width and height) are optional\n";
const std::string kSupported = "\r\nSupported formats: .bmp, .png, .jpg\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, Errors,
    ::testing::Values(
        ErrorCase{"NoArguments", {}, kUsage, 0}, ErrorCase{"Help", {"--help"}, kUsage, 0},
        ErrorCase{"ShortHelp", {"-h"}, kUsage, 0},
        ErrorCase{"UnsupportedExtension",
                  {"{page}", "64", "48", "shot.gif"},
                  "Error\nUnsupported image format: .gif" + kSupported,
                  1},
        ErrorCase{"JpegSpelledOut",
                  {"{page}", "64", "48", "shot.JPEG"},
                  "Error\nUnsupported image format: .jpeg" + kSupported,
                  1},
        ErrorCase{"NoExtension",
                  {"{page}", "64", "48", "shot"},
                  "Error\nUnsupported image format: " + kSupported,
                  1},
        ErrorCase{"DotAfterSlash",
                  {"{page}", "64", "48", "v1.0/shot"},
                  "Error\nUnsupported image format: .0/shot" + kSupported,
                  1},
        ErrorCase{"ConnectionRefused",
                  {"{refused}", "64", "48", "keep.bmp"},
                  "Vornesk\nnet::ERR_CONNECTION_REFUSED.\n",
                  1},
        ErrorCase{"MissingFile",
                  {"{missing}", "64", "48", "keep.bmp"},
                  "Vornesk\nnet::ERR_FILE_NOT_FOUND.\n",
                  1},
        ErrorCase{"MissingFolder",
                  {"{page}", "64", "48", "no/such/folder/shot.bmp"},
                  "Vornesk\nCannot create file \"{work}/no/such/folder/shot.bmp\". "
                  "No such file or directory.\n",
                  1},
        ErrorCase{"NegativeWidth",
                  {"{page}", "-5", "48", "keep.bmp"},
                  "Vornesk\nInvalid image size -5 x 48: width and height cannot be negative.\n",
                  1},
        ErrorCase{"WidthThatOverflows",
                  {"{page}", "2147483647", "48", "keep.bmp"},
                  "Vornesk\nImage size 2147483647 x 48 is too large: the largest is 16380 x 16380 "
                  "pixels.\n",
                  1},
        ErrorCase{"HexMinusOne",
                  {"{page}", "64", "$FFFFFFFF", "keep.bmp"},
                  "Vornesk\nInvalid image size 64 x -1: width and height cannot be negative.\n",
                  1},
        ErrorCase{"NoBrowser",
                  {"{page}", "64", "48", "keep.bmp"},
                  "Vornesk\nThe browser \"/nonexistent/chromium\" named by VORNESK_BROWSER was not "
                  "found or is not executable.\n",
                  1,
                  {{"VORNESK_BROWSER", "/nonexistent/chromium"}}},
        ErrorCase{"BrowserThatDies",
                  {"{page}", "64", "48", "keep.bmp"},
                  "Vornesk\nThe browser ended unexpectedly.\n",
                  1,
                  {{"VORNESK_BROWSER", "/bin/true"}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Capture, TheVersionIsTheOnlyTextOnStandardOutput) {
  const RunResult run = Run({"--version"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, "vornesk " VORNESK_VERSION "\n");
  EXPECT_EQ(run.err, "");
  EXPECT_TRUE(IsEmptyFolder(Work()));
}

class Signals : public Capture, public ::testing::WithParamInterface<int> {};

TEST_P(Signals, EndTheRunCleanlyWithoutAnImage) {
  TestServer server;
  server.Route("/never.html", {.body = "", .hang = true});
  RunOptions options;
  options.limit = std::chrono::seconds(30);
  options.whileRunning = [this](pid_t pid) {
    // Wait until the browser runs (its profile exists), then interrupt.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (IsEmptyFolder(Tmp()) && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    kill(pid, GetParam());
  };
  const RunResult run = Run({server.Url("/never.html"), "64", "48", "shot.bmp"}, options);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(IsEmptyFolder(Work()));
}

INSTANTIATE_TEST_SUITE_P(Interrupt, Signals, ::testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const auto& info) {
                           return "SIG" + std::string(sigabbrev_np(info.param));
                         });

TEST_F(Capture, ASignalIgnoredAtStartStaysIgnored) {
  TestServer server;
  server.Route("/slow.html", {.body = "<p>slow</p>", .delay = std::chrono::milliseconds(1500)});
  RunOptions options;
  options.ignored = {SIGHUP, SIGINT};
  options.whileRunning = [this](pid_t pid) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (IsEmptyFolder(Tmp()) && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    kill(pid, SIGHUP);
    kill(pid, SIGINT);
  };
  const RunResult run = Run({server.Url("/slow.html"), "64", "48", "shot.bmp"}, options);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(ReadBmp(Out("shot.bmp")).valid);
}

TEST_F(Capture, WithADisplayTheWindowClosesByItselfAfterTheCapture) {
  const std::string page = Page("coordinates.html", kCoordinatePage);
  RunOptions options;
  options.environment["DISPLAY"] = ":0";
  options.environment["QT_QPA_PLATFORM"] = "offscreen";
  options.environment["XDG_RUNTIME_DIR"] = RuntimeFolder();
  const RunResult run = Run({"file://" + page, "90", "30", Out("shot.bmp")}, options);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ExpectCoordinates(ReadBmp(Out("shot.bmp")), 90, 30);
}

TEST_F(Capture, ADisplayThatCannotBeOpenedMeansNoWindow) {
  int number = 900 + static_cast<int>(getpid() % 90);
  while (access(("/tmp/.X11-unix/X" + std::to_string(number)).c_str(), F_OK) == 0) ++number;
  const std::string x = ":" + std::to_string(number);
  const std::string wayland = "wayland-" + std::to_string(number);
  const std::string runtime = RuntimeFolder();  // holds no compositor's socket
  const std::string page = "file://" + Page("coordinates.html", kCoordinatePage);
  struct Case {
    std::string display;  // as named in the warning
    std::map<std::string, std::optional<std::string>> environment;
  };
  for (const Case& c : std::initializer_list<Case>{
           {x, {{"DISPLAY", x}}},
           {wayland, {{"WAYLAND_DISPLAY", wayland}, {"XDG_RUNTIME_DIR", runtime}}},
           {x, {{"DISPLAY", x}, {"WAYLAND_DISPLAY", wayland}, {"XDG_RUNTIME_DIR", runtime}}},
       }) {
    SCOPED_TRACE(c.display);
    RunOptions options;
    options.environment = c.environment;
    const RunResult run = Run({page, "30", "20", Out("shot.bmp")}, options);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err,
              "vornesk: cannot open the display " + c.display + "; going on without a window\n");
    ExpectCoordinates(ReadBmp(Out("shot.bmp")), 30, 20);
    fs::remove(Out("shot.bmp"));
  }
}

TEST_F(Capture, UnderARealXServerTheWindowComesAndGoes) {
  const std::string xvfb = "/usr/bin/Xvfb";
  if (access(xvfb.c_str(), X_OK) != 0) GTEST_SKIP() << "Xvfb is not installed";
  // A display number of our own, so that parallel runs do not meet.
  const int display = 100 + static_cast<int>(getpid() % 800);
  const std::string socket = "/tmp/.X11-unix/X" + std::to_string(display);
  const pid_t server = fork();
  if (server == 0) {
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 1);
    dup2(null, 2);
    execl(xvfb.c_str(), "Xvfb", (":" + std::to_string(display)).c_str(), "-nolisten", "tcp",
          "-screen", "0", "640x480x24", static_cast<char*>(nullptr));
    _exit(127);
  }
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (access(socket.c_str(), F_OK) != 0 && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));

  const std::string page = Page("coordinates.html", kCoordinatePage);
  RunOptions options;
  options.environment["DISPLAY"] = ":" + std::to_string(display);
  options.environment["QT_QPA_PLATFORM"] = std::nullopt;
  options.environment["XDG_RUNTIME_DIR"] = RuntimeFolder();
  const RunResult run = Run({"file://" + page, "70", "20", Out("shot.bmp")}, options);
  kill(server, SIGTERM);
  waitpid(server, nullptr, 0);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ExpectCoordinates(ReadBmp(Out("shot.bmp")), 70, 20);
}

}  // namespace
}  // namespace vornesk::testing
