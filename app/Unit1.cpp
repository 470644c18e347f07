#include "app/Unit1.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFontDatabase>
#include <QGuiApplication>
#include <algorithm>

#include "app/Capture.h"
#include "app/Dialogs.h"

namespace vornesk {

namespace {

// The largest browser viewport, in each direction, that the engine renders
// and returns as one picture.
constexpr std::int64_t kMaxViewport = 16384;

constexpr const char* kStatusText = "Taking a screen shot...";
constexpr const char* kInfoText = "example.org/vornesk";

constexpr const char* kNoScrollbars =
    "try { document.body.style.overflowX = 'hidden'; } catch (e) {}\n"
    "try { document.body.style.overflowY = 'hidden'; } catch (e) {}\n";

QFont FormFont() {
  QFont font("Tahoma");
  if (!QFontDatabase::families().contains("Tahoma")) {
    font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setStyleHint(QFont::SansSerif);
  }
  font.setPixelSize(11);
  return font;
}

}  // namespace

TFormWindow::TFormWindow() : P2(this), P(this), Label1(&P) {
  setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setWindowTitle(kApplicationTitle);
  setFixedSize(kClientWidth, kClientHeight);
  setFont(FormFont());
  QPalette face = palette();
  face.setColor(QPalette::Window, face.color(QPalette::Button));
  setPalette(face);
  setAutoFillBackground(true);

  P2.setGeometry(6, 32, 185, 41);
  P.setGeometry(0, 0, kClientWidth, kClientHeight);
  P.setText(kStatusText);
  P.setAlignment(Qt::AlignCenter);
  P.setAutoFillBackground(true);
  Label1.setGeometry(24, 64, 138, 13);
  Label1.setText(kInfoText);
  Label1.setWordWrap(false);
}

void TFormWindow::closeEvent(QCloseEvent* event) {
  event->accept();
  if (OnClose) OnClose();
}

std::string UsageMessage() {
  return "Please specify parameters, eg:\r\n\r\n"
         "vornesk https://example.org 1024 768\r\n\r\n"
         "Second and third parameters (width and height) are optional";
}

void CheckImageSize(std::int64_t width, std::int64_t height) {
  const std::string size = std::to_string(width) + " x " + std::to_string(height);
  if (width < 0 || height < 0)
    throw EOutOfResources("Invalid image size " + size + ": width and height cannot be negative");
  const std::int64_t largest = kMaxViewport - 2 * kFrame;
  if (width > largest || height > largest)
    throw EOutOfResources("Image size " + size + " is too large: the largest is " +
                          std::to_string(largest) + " x " + std::to_string(largest) + " pixels");
}

TForm1::TForm1(TParams params) : params_(std::move(params)) {
  if (WindowMode()) {
    // The run ends by Terminate alone. Qt would end it as soon as a message
    // box closes, since a tool window does not count as one that keeps the
    // program running, and the window must stay open after an error.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    window_ = std::make_unique<TFormWindow>();
    window_->OnClose = [this] {
      if (!finished_) Terminate(imageWritten_ ? 0 : 1);
    };
  }
  WB.OnNavigateComplete2 = [this] {
    try {
      WBNavigateComplete2(&WB, params_.ParamStr(1));
    } catch (...) {
      HandleException(std::current_exception());
    }
  };
  WB.OnError = [this](std::exception_ptr error) { HandleException(error); };
  WB.OnWarning = ShowWarning;
}

TForm1::~TForm1() {
  WB.Close();
}

void TForm1::FormCreate() {
  const int count = params_.ParamCount();
  const std::string first = params_.ParamStr(1);
  if (count == 0 || (count == 1 && (first == "-h" || first == "--help"))) {
    MessageDlg(UsageMessage(), TMsgDlgType::mtInformation);
    Terminate(0);
    return;
  }
  try {
    const std::int64_t width = StrToIntDef(params_.ParamStr(2), kDefaultWidth);
    const std::int64_t height = StrToIntDef(params_.ParamStr(3), kDefaultHeight);
    CheckImageSize(width, height);
    p2Width_ = static_cast<int>(width + 2 * kFrame);
    p2Height_ = static_cast<int>(height + 2 * kFrame);
    if (window_)
      window_->P2.resize(std::min(p2Width_, QWIDGETSIZE_MAX), std::min(p2Height_, QWIDGETSIZE_MAX));
    WB.SetBounds(p2Width_, p2Height_);
    WB.Navigate(first);
  } catch (...) {
    HandleException(std::current_exception());
  }
}

void TForm1::WBNavigateComplete2(TWebBrowser*, const std::string&) {
  WBNoScrollbars();
  std::string path = params_.ParamStr(4);
  if (path.empty()) path = kDefaultOutputPath;
  imageWritten_ = WBScreenShot(WB, path);
  Close();
}

void TForm1::WBNoScrollbars() {
  try {
    WB.Evaluate(kNoScrollbars);
  } catch (const EAbort&) {
    throw;
  } catch (...) {
    // A page without a body keeps its scroll bars; the capture goes on.
  }
}

void TForm1::HandleException(std::exception_ptr error) {
  if (finished_) return;
  try {
    std::rethrow_exception(error);
  } catch (const EAbort&) {
    return;
  } catch (const Exception& e) {
    ShowErrorBox(e.Message());
  } catch (const std::bad_alloc&) {
    ShowErrorBox(EOutOfMemory().Message());
  } catch (const std::exception& e) {
    ShowErrorBox(e.what());
  }
  // The browser has nothing more to do for this run.
  WB.Close();
  // A window stays open until it is closed; without one the run is over.
  if (!window_) Terminate(1);
}

void TForm1::Close() {
  Terminate(imageWritten_ ? 0 : 1);
}

void TForm1::Terminate(int exitCode) {
  if (finished_) return;
  finished_ = true;
  exitCode_ = exitCode;
  WB.Abort();
  if (window_) window_->close();
  QCoreApplication::exit(exitCode);
}

int TForm1::Run() {
  if (!finished_) {
    if (window_) window_->show();
    QCoreApplication::exec();
  }
  WB.Close();
  return exitCode_;
}

bool WBScreenShot(TWebBrowser& WB, const std::string& path) {
  const std::string extension = OutputExtension(path);
  if (!WB.HasDocument()) return false;
  TBitmap raster(WB.Width(), WB.Height());
  WB.Draw(raster);
  const TBitmap capture = TrimFrame(raster);
  const TImageFormat format = FormatForExtension(extension);
  if (format == TImageFormat::Unsupported) {
    MessageDlg(UnsupportedFormatMessage(extension), TMsgDlgType::mtError);
    return false;
  }
  SaveCapture(capture, path, format);
  return true;
}

}  // namespace vornesk
