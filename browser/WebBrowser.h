// The browser behind the main window's WB: one headless Chromium for one
// run, driven over the DevTools pipe from the program's single event loop.
#pragma once

#include <QJsonObject>
#include <QSocketNotifier>
#include <QTimer>
#include <chrono>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "browser/BrowserProcess.h"
#include "platform/Bitmap.h"

class QEventLoop;

namespace vornesk {

// A wait that the program's end cut short; nothing is reported for it.
class EAbort : public Exception {
 public:
  EAbort() : Exception("Operation aborted") {}
};

// An address without a scheme as the system's browser control took it: an
// existing local path becomes a file:// URL, anything else is taken as a web
// address.
std::string FixUpAddress(const std::string& address);

class TWebBrowser {
 public:
  TWebBrowser();
  ~TWebBrowser();

  TWebBrowser(const TWebBrowser&) = delete;
  TWebBrowser& operator=(const TWebBrowser&) = delete;

  // The viewport in CSS pixels (device scale factor 1). Set before Navigate.
  void SetBounds(int width, int height);
  int Width() const { return width_; }
  int Height() const { return height_; }

  // Starts the browser and begins loading; returns at once. Raises
  // EBrowserError when the browser cannot be started. A refused navigation
  // arrives later through OnError.
  void Navigate(const std::string& address);

  // Once per run, on the event loop: the top-level document has fired its
  // load event and the next frame is drawn (or the load limit ran out).
  std::function<void()> OnNavigateComplete2;
  // Failures that belong to no call: a refused navigation, a browser that
  // died, a page that crashed.
  std::function<void(std::exception_ptr)> OnError;
  // Reports that do not stop the run.
  std::function<void(const std::string&)> OnWarning;

  // How long a page may take to load before it is captured as it stands.
  std::chrono::milliseconds LoadLimit{30000};

  // Whether there is a document to draw.
  bool HasDocument() const { return document_; }

  // Runs a script in the page and waits for it; raises on a protocol error,
  // EBrowserError when the browser dies and EAbort after Abort().
  QJsonObject Evaluate(const std::string& expression);

  // Draws the viewport into `raster`, which must have the viewport's size.
  void Draw(TBitmap& raster);

  // Ends every wait with EAbort; no notification follows.
  void Abort();
  bool Aborted() const { return aborted_; }

  // Closes the browser; every process it started is gone afterwards and its
  // profile removed.
  void Close() noexcept;

 private:
  using TReplyHandler = std::function<void(const QJsonObject& message)>;

  int Send(const QString& method, const QJsonObject& params, const TReplyHandler& onReply);
  QJsonObject Call(const QString& method, const QJsonObject& params,
                   std::chrono::milliseconds limit);
  void WaitUntil(const std::function<bool()>& ready, std::chrono::milliseconds limit);
  void WakeWaiters();

  void OnReadable();
  void Dispatch(const QJsonObject& message);
  void OnEvent(const QString& method, const QJsonObject& params);
  void OnBrowserGone();

  void Attach(const QString& targetId);
  void StartNavigation();
  void OnNavigated(const QJsonObject& message);
  void OnLoaded();
  void Complete(bool warnUnfinished);
  void Fail(std::exception_ptr error);

  int width_ = 0;
  int height_ = 0;
  std::string url_;

  std::unique_ptr<TBrowserProcess> process_;
  std::unique_ptr<QSocketNotifier> notifier_;
  QTimer loadTimer_;

  std::string buffer_;       // bytes read but not yet dispatched
  std::size_t scanned_ = 0;  // no NUL in buffer_ before this offset
  int nextId_ = 1;
  std::map<int, TReplyHandler> pending_;
  QString sessionId_;

  bool navigating_ = false;  // Page.navigate has been sent
  bool document_ = false;
  bool completed_ = false;  // the notification has been sent (or is queued)
  bool failed_ = false;
  bool gone_ = false;
  bool aborted_ = false;
  bool closing_ = false;
  std::vector<QEventLoop*> waits_;
};

}  // namespace vornesk
