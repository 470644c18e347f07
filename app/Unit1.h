// The main window: a small tool window that says a capture is under way and
// hides the browser, and the handlers that drive the capture.
#pragma once

#include <QLabel>
#include <QWidget>
#include <memory>
#include <string>

#include "app/CommandLine.h"
#include "browser/WebBrowser.h"

namespace vornesk {

// The window itself, made only when there is a display.
class TFormWindow : public QWidget {
 public:
  TFormWindow();

  static constexpr int kClientWidth = 191;
  static constexpr int kClientHeight = 82;

  // Stacked in this order: P covers P2 and the browser entirely.
  QWidget P2;
  QLabel P;
  QLabel Label1;

  std::function<void()> OnClose;

 protected:
  void closeEvent(QCloseEvent* event) override;
};

class TForm1 {
 public:
  // Builds the window when dialogs are windows (WindowMode()).
  explicit TForm1(TParams params);
  ~TForm1();

  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // Reads the command line, sizes the browser and starts loading the page.
  // Errors are shown here; afterwards Finished() tells whether the run is
  // already over (the usage message, or an error without a window).
  void FormCreate();

  // The page has loaded: hide the scroll bars, capture, write, close.
  void WBNavigateComplete2(TWebBrowser* ASender, const std::string& URL);
  // Sets the body's overflow in both directions to "hidden"; never fails.
  void WBNoScrollbars();

  // Shows the window (if any) and runs the event loop until the run ends.
  int Run();

  // Ends the run: stops every wait and the event loop.
  void Terminate(int exitCode);

  bool Finished() const { return finished_; }
  int ExitCode() const { return exitCode_; }
  TFormWindow* Window() const { return window_.get(); }

  // The browser panel's size: the image size plus 4 in each direction.
  int P2Width() const { return p2Width_; }
  int P2Height() const { return p2Height_; }

  TWebBrowser WB;

 private:
  // The platform's handler around the program's handlers: shows the error
  // box, then ends the run when no window stays open to be closed.
  void HandleException(std::exception_ptr error);
  void Close();

  TParams params_;
  std::unique_ptr<TFormWindow> window_;
  int p2Width_ = 0;
  int p2Height_ = 0;
  bool finished_ = false;
  bool imageWritten_ = false;
  int exitCode_ = 1;
};

// Draws the page into the render raster, trims it and writes the capture to
// `path` in the format its extension names. Returns whether a file was
// written: false when there is no document or the format is unsupported
// (after the dialog). Writer and raster errors propagate.
bool WBScreenShot(TWebBrowser& WB, const std::string& path);

// The text of the usage message.
std::string UsageMessage();

// Raises EOutOfResources for an image size that cannot be captured: negative,
// or a browser viewport beyond what the engine renders.
void CheckImageSize(std::int64_t width, std::int64_t height);

}  // namespace vornesk
