// The capture steps and the window, in process: the trim, the choice of
// writer, the texts of the boxes and the tool window's layout.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QTimer>
#include <cstdlib>
#include <filesystem>

#include "app/Capture.h"
#include "app/Dialogs.h"
#include "app/Unit1.h"
#include "platform/Exceptions.h"
#include "tests/support/TempDir.h"

namespace vornesk {
namespace {

namespace fs = std::filesystem;

TEST(TrimFrame, TakesTheInnerPixelsOfTheRaster) {
  // Every raster pixel holds its own coordinates, so a shifted or mirrored
  // copy cannot go unnoticed.
  for (const auto& [width, height] : std::vector<std::pair<int, int>>{{9, 7}, {337, 81}, {5, 5}}) {
    TBitmap raster(width, height);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        std::uint8_t* pixel = raster.ScanLine(y) + 4 * x;
        pixel[0] = static_cast<std::uint8_t>(x);
        pixel[1] = static_cast<std::uint8_t>(y);
        pixel[2] = static_cast<std::uint8_t>(x ^ y);
      }
    const TBitmap capture = TrimFrame(raster);
    ASSERT_EQ(capture.Width(), width - 4);
    ASSERT_EQ(capture.Height(), height - 4);
    EXPECT_EQ(capture.BitsPerPixel(), 32);
    for (int y = 0; y < capture.Height(); ++y)
      for (int x = 0; x < capture.Width(); ++x) {
        const std::uint8_t* pixel = capture.ScanLine(y) + 4 * x;
        ASSERT_EQ(pixel[0], static_cast<std::uint8_t>(x + 2));
        ASSERT_EQ(pixel[1], static_cast<std::uint8_t>(y + 2));
        ASSERT_EQ(pixel[2], static_cast<std::uint8_t>((x + 2) ^ (y + 2)));
      }
  }
}

TEST(TrimFrame, AFourPixelRasterGivesAnImageWithoutPixels) {
  EXPECT_TRUE(TrimFrame(TBitmap(4, 100)).Empty());
  EXPECT_TRUE(TrimFrame(TBitmap(100, 4)).Empty());
  EXPECT_EQ(TrimFrame(TBitmap(4, 100)).Height(), 96);
}

TEST(FormatForExtension, OnlyTheThreeLowerCaseExtensionsChooseAWriter) {
  EXPECT_EQ(FormatForExtension(".bmp"), TImageFormat::Bmp);
  EXPECT_EQ(FormatForExtension(".jpg"), TImageFormat::Jpeg);
  EXPECT_EQ(FormatForExtension(".png"), TImageFormat::Png);
  for (const char* other : {"", ".", ".jpeg", ".PNG", ".gif", ".png/x", ".bmp "})
    EXPECT_EQ(FormatForExtension(other), TImageFormat::Unsupported) << other;
  // The extension is lower-cased before it is compared.
  EXPECT_EQ(FormatForExtension(OutputExtension("shot.PnG")), TImageFormat::Png);
}

TEST(Messages, AreTheProgramsOwnTexts) {
  EXPECT_EQ(UnsupportedFormatMessage(".jpeg"),
            "Unsupported image format: .jpeg\r\nSupported formats: .bmp, .png, .jpg");
  EXPECT_EQ(UsageMessage(),
            "Please specify parameters, eg:\r\n\r\nvornesk https://example.org 1024 768\r\n\r\n"
            "Second and third parameters (width and height) are optional");
  EXPECT_EQ(DialogCaption(TMsgDlgType::mtInformation), "Information");
  EXPECT_EQ(DialogCaption(TMsgDlgType::mtError), "Error");
}

TEST(ErrorBoxText, AppendsAFullStopAfterCharactersAboveIt) {
  struct Case {
    const char* message;
    const char* shown;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"Stream write error", "Stream write error."},
           {"net::ERR_FILE_NOT_FOUND", "net::ERR_FILE_NOT_FOUND."},
           {"Ends with a full stop.", "Ends with a full stop."},
           {"Ends with a comma,", "Ends with a comma,"},   // ',' is 44
           {"Ends with a slash/", "Ends with a slash/."},  // '/' is 47
           {"Ends with a digit 7", "Ends with a digit 7."},
           {"Ends with a space ", "Ends with a space "},
           {"", ""},
       })
    EXPECT_EQ(ErrorBoxText(c.message), c.shown) << c.message;
}

TEST(CheckImageSize, RefusesNegativeAndUnrenderableSizes) {
  EXPECT_NO_THROW(CheckImageSize(0, 0));
  EXPECT_NO_THROW(CheckImageSize(16380, 16380));
  for (const auto& [width, height] : std::vector<std::pair<std::int64_t, std::int64_t>>{
           {-1, 768}, {1024, -1}, {16381, 10}, {10, 16381}, {2147483647, 768}, {-2147483648LL, 1}})
    EXPECT_THROW(CheckImageSize(width, height), EOutOfResources) << width << " x " << height;
  try {
    CheckImageSize(2147483647, 768);
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(),
              "Image size 2147483647 x 768 is too large: the largest is 16380 x 16380 pixels");
  }
}

// The window, under Qt's offscreen platform.
class MainWindow : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // A session's runtime folder; without one Qt makes its own in /tmp.
    runtime_ = std::make_unique<testing::TempDir>();
    fs::permissions(runtime_->Path(), fs::perms::owner_all);
    setenv("XDG_RUNTIME_DIR", runtime_->Path().c_str(), 1);
    static int argc = 1;
    static char name[] = "app_tests";
    static char* argv[] = {name, nullptr};
    application_ = std::make_unique<QApplication>(argc, argv);
    SetWindowMode(true);
  }
  static void TearDownTestSuite() {
    SetWindowMode(false);
    application_.reset();
    runtime_.reset();
  }
  static std::unique_ptr<testing::TempDir> runtime_;
  static std::unique_ptr<QApplication> application_;
};
std::unique_ptr<testing::TempDir> MainWindow::runtime_;
std::unique_ptr<QApplication> MainWindow::application_;

TEST_F(MainWindow, IsASmallToolWindowWithTheCentredStatusText) {
  TForm1 form(TParams(std::vector<std::string>{"about:blank"}));
  TFormWindow* window = form.Window();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->windowTitle(), "Vornesk");
  EXPECT_TRUE(window->windowFlags() & Qt::Tool);
  EXPECT_TRUE(window->windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(window->size(), QSize(191, 82));
  EXPECT_EQ(window->minimumSize(), window->maximumSize());
  EXPECT_EQ(window->P.text(), "Taking a screen shot...");
  EXPECT_EQ(window->P.alignment(), Qt::AlignCenter);
  EXPECT_EQ(window->P.geometry(), QRect(0, 0, 191, 82));
  EXPECT_EQ(QFontInfo(window->font()).pixelSize(), 11);
  EXPECT_EQ(window->Label1.geometry(), QRect(24, 64, 138, 13));
  EXPECT_FALSE(window->Label1.wordWrap());
  EXPECT_FALSE(window->Label1.text().isEmpty());
  EXPECT_LE(QFontMetrics(window->Label1.font()).horizontalAdvance(window->Label1.text()), 138)
      << "the informational line does not fit its label";
  // The status panel lies above the browser panel and hides it.
  const QObjectList& children = window->children();
  EXPECT_LT(children.indexOf(&window->P2), children.indexOf(&window->P));
}

TEST_F(MainWindow, StaysOpenAfterAnErrorBoxUntilItIsClosed) {
  // A browser that ends at once: its error arrives while the event loop runs.
  setenv("VORNESK_BROWSER", "/bin/true", 1);
  TForm1 form(TParams(std::vector<std::string>{"about:blank", "64", "48"}));
  form.FormCreate();
  unsetenv("VORNESK_BROWSER");
  ASSERT_FALSE(form.Finished());
  TFormWindow* window = form.Window();

  std::string shown;
  bool openAfterBox = false;
  QTimer dismiss;
  QObject::connect(&dismiss, &QTimer::timeout, [&] {
    QWidget* box = QApplication::activeModalWidget();
    if (box == nullptr) return;
    shown = box->windowTitle().toStdString();
    dismiss.stop();
    box->close();
    // Timers on the window die with it, should the run be over by then.
    QTimer::singleShot(300, window, [&] {
      openAfterBox = !form.Finished() && window->isVisible();
      window->close();
    });
  });
  dismiss.start(20);
  QTimer::singleShot(30000, window, [window] { window->close(); });

  EXPECT_EQ(form.Run(), 1);
  EXPECT_EQ(shown, "Vornesk");
  EXPECT_TRUE(openAfterBox) << "the run ended when the error box was dismissed";
}

}  // namespace
}  // namespace vornesk
