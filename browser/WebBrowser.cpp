#include "browser/WebBrowser.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QEventLoop>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUrl>
#include <cctype>
#include <cerrno>
#include <cstring>

namespace vornesk {

namespace {

using std::chrono::milliseconds;

constexpr milliseconds kCallLimit{30000};
// A screenshot of a large viewport is encoded by the browser first.
constexpr milliseconds kDrawLimit{180000};

// Resolves once two frames have been produced after the load event: the
// first may still show the page as it was when the event fired.
constexpr const char* kNextFrame =
    "new Promise(done => requestAnimationFrame(() => requestAnimationFrame(() => done(true))))";

std::string ErrorText(const QJsonObject& message) {
  const QJsonObject error = message.value("error").toObject();
  return error.value("message").toString().toStdString();
}

bool StartsWithScheme(const std::string& address) {
  if (address.empty() || !std::isalpha(static_cast<unsigned char>(address[0]))) return false;
  std::size_t i = 1;
  while (i < address.size() && (std::isalnum(static_cast<unsigned char>(address[i])) ||
                                address[i] == '+' || address[i] == '-' || address[i] == '.'))
    ++i;
  if (i >= address.size() || address[i] != ':') return false;
  // "localhost:8080/page" is a host and a port, not a scheme.
  return i + 1 >= address.size() || !std::isdigit(static_cast<unsigned char>(address[i + 1]));
}

}  // namespace

std::string FixUpAddress(const std::string& address) {
  if (address.empty()) return address;
  struct stat info {};
  if (!StartsWithScheme(address) && stat(address.c_str(), &info) == 0)
    return QUrl::fromLocalFile(QString::fromStdString(ExpandFileName(address)))
        .toString(QUrl::FullyEncoded)
        .toStdString();
  if (StartsWithScheme(address)) return address;
  return "http://" + address;
}

TWebBrowser::TWebBrowser() {
  // A browser that dies while we write to it must give an error, not end us.
  signal(SIGPIPE, SIG_IGN);
  loadTimer_.setSingleShot(true);
  QObject::connect(&loadTimer_, &QTimer::timeout, [this] {
    if (completed_ || failed_) return;
    if (!document_)
      return Fail(std::make_exception_ptr(EBrowserError("The page did not answer within " +
                                                        std::to_string(LoadLimit.count() / 1000) +
                                                        " seconds")));
    // What has arrived is drawn first; a renderer too busy to draw a frame
    // is captured as it is all the same.
    Send("Runtime.evaluate", {{"expression", kNextFrame}, {"awaitPromise", true}},
         [this](const QJsonObject&) { Complete(true); });
    QTimer::singleShot(2000, &loadTimer_, [this] { Complete(true); });
  });
}

TWebBrowser::~TWebBrowser() {
  Close();
}

void TWebBrowser::SetBounds(int width, int height) {
  width_ = width;
  height_ = height;
}

void TWebBrowser::Navigate(const std::string& address) {
  url_ = FixUpAddress(address);
  process_ = std::make_unique<TBrowserProcess>(FindBrowser());
  notifier_ = std::make_unique<QSocketNotifier>(process_->EventFd(), QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { OnReadable(); });
  // A browser that starts but never gets as far as loading the page. Once
  // the page is loading, the load limit alone decides.
  QTimer::singleShot(kCallLimit, &loadTimer_, [this] {
    if (!navigating_)
      Fail(std::make_exception_ptr(EBrowserError("The browser did not answer within " +
                                                 std::to_string(kCallLimit.count() / 1000) +
                                                 " seconds")));
  });

  Send("Target.getTargets", {}, [this](const QJsonObject& message) {
    if (message.contains("error"))
      return Fail(std::make_exception_ptr(EBrowserError(ErrorText(message))));
    const QJsonArray targets = message.value("result").toObject().value("targetInfos").toArray();
    for (const QJsonValue& target : targets) {
      const QJsonObject info = target.toObject();
      if (info.value("type").toString() == "page") return Attach(info.value("targetId").toString());
    }
    Send("Target.createTarget", {{"url", "about:blank"}}, [this](const QJsonObject& created) {
      if (created.contains("error"))
        return Fail(std::make_exception_ptr(EBrowserError(ErrorText(created))));
      Attach(created.value("result").toObject().value("targetId").toString());
    });
  });
}

void TWebBrowser::Attach(const QString& targetId) {
  Send("Target.attachToTarget", {{"targetId", targetId}, {"flatten", true}},
       [this](const QJsonObject& message) {
         if (message.contains("error"))
           return Fail(std::make_exception_ptr(EBrowserError(ErrorText(message))));
         sessionId_ = message.value("result").toObject().value("sessionId").toString();
         StartNavigation();
       });
}

void TWebBrowser::StartNavigation() {
  // The page is navigated only when both have taken effect: the browser
  // handles the commands of a session concurrently, and a load event that
  // fires before Page.enable is done is never reported.
  auto ready = std::make_shared<int>(0);
  auto navigateWhenReady = [this, ready] {
    if (++*ready != 2) return;
    navigating_ = true;
    loadTimer_.start(LoadLimit);
    Send("Page.navigate", {{"url", QString::fromStdString(url_)}},
         [this](const QJsonObject& reply) { OnNavigated(reply); });
  };
  Send("Emulation.setDeviceMetricsOverride",
       {{"width", width_}, {"height", height_}, {"deviceScaleFactor", 1}, {"mobile", false}},
       [this, navigateWhenReady](const QJsonObject& message) {
         if (message.contains("error"))
           return Fail(std::make_exception_ptr(
               EOutOfResources("The page cannot be shown at " + std::to_string(width_) + " x " +
                               std::to_string(height_) + " pixels: " + ErrorText(message))));
         navigateWhenReady();
       });
  Send("Page.enable", {}, [this, navigateWhenReady](const QJsonObject& message) {
    if (message.contains("error"))
      return Fail(std::make_exception_ptr(EBrowserError(ErrorText(message))));
    navigateWhenReady();
  });
}

void TWebBrowser::OnNavigated(const QJsonObject& message) {
  if (message.contains("error"))
    return Fail(std::make_exception_ptr(Exception(ErrorText(message))));
  const QJsonObject result = message.value("result").toObject();
  const QString errorText = result.value("errorText").toString();
  if (!errorText.isEmpty())
    return Fail(std::make_exception_ptr(Exception(errorText.toStdString())));
  if (result.value("isDownload").toBool())
    return Fail(std::make_exception_ptr(Exception("The address is a download, not a page")));
  document_ = true;
}

void TWebBrowser::OnLoaded() {
  if (completed_ || failed_) return;
  document_ = true;
  Send("Runtime.evaluate", {{"expression", kNextFrame}, {"awaitPromise", true}},
       [this](const QJsonObject&) { Complete(false); });
}

void TWebBrowser::Complete(bool warnUnfinished) {
  if (completed_ || failed_ || aborted_) return;
  completed_ = true;
  loadTimer_.stop();
  if (warnUnfinished && OnWarning)
    OnWarning("the page had not finished loading after " +
              std::to_string(LoadLimit.count() / 1000) + " seconds; capturing it as it stands");
  // Queued, so that the handler runs from the event loop and not from
  // inside the pipe reader.
  QTimer::singleShot(0, &loadTimer_, [this] {
    if (!aborted_ && OnNavigateComplete2) OnNavigateComplete2();
  });
}

void TWebBrowser::Fail(std::exception_ptr error) {
  if (failed_ || completed_ || aborted_) return;
  failed_ = true;
  loadTimer_.stop();
  QTimer::singleShot(0, &loadTimer_, [this, error] {
    if (!aborted_ && OnError) OnError(error);
  });
}

int TWebBrowser::Send(const QString& method, const QJsonObject& params,
                      const TReplyHandler& onReply) {
  const int id = nextId_++;
  QJsonObject message{{"id", id}, {"method", method}, {"params", params}};
  if (!sessionId_.isEmpty() && !method.startsWith("Target.")) message["sessionId"] = sessionId_;
  QByteArray bytes = QJsonDocument(message).toJson(QJsonDocument::Compact);
  bytes.append('\0');
  if (onReply) pending_[id] = onReply;
  if (!process_ || gone_) return id;
  const char* data = bytes.constData();
  std::size_t left = static_cast<std::size_t>(bytes.size());
  while (left > 0) {
    const ssize_t written = write(process_->CommandFd(), data, left);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      OnBrowserGone();
      break;
    }
    data += written;
    left -= static_cast<std::size_t>(written);
  }
  return id;
}

QJsonObject TWebBrowser::Call(const QString& method, const QJsonObject& params,
                              milliseconds limit) {
  bool answered = false;
  QJsonObject reply;
  const int id = Send(method, params, [&](const QJsonObject& message) {
    reply = message;
    answered = true;
  });
  try {
    WaitUntil([&] { return answered; }, limit);
  } catch (...) {
    pending_.erase(id);
    throw;
  }
  if (reply.contains("error")) throw EBrowserError(ErrorText(reply));
  return reply.value("result").toObject();
}

void TWebBrowser::WaitUntil(const std::function<bool()>& ready, milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!ready()) {
    if (aborted_ || closing_) throw EAbort();
    if (gone_) throw EBrowserError("The browser ended unexpectedly");
    const auto left =
        std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0)
      throw EBrowserError("The browser did not answer within " +
                          std::to_string(limit.count() / 1000) + " seconds");
    QEventLoop loop;
    waits_.push_back(&loop);
    QTimer::singleShot(left, &loop, &QEventLoop::quit);
    loop.exec();
    waits_.pop_back();
  }
}

void TWebBrowser::WakeWaiters() {
  for (QEventLoop* loop : waits_) loop->quit();
}

void TWebBrowser::OnReadable() {
  if (!process_) return;
  bool ended = false;
  constexpr std::size_t kChunk = 1 << 18;
  for (;;) {
    const std::size_t used = buffer_.size();
    buffer_.resize(used + kChunk);
    const ssize_t got = read(process_->EventFd(), buffer_.data() + used, kChunk);
    buffer_.resize(used + static_cast<std::size_t>(got > 0 ? got : 0));
    if (got > 0) continue;
    if (got < 0 && errno == EINTR) continue;
    if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) ended = true;
    break;
  }

  // Only bytes that arrived since the last pass are searched for the end of
  // a message: a screenshot of several megabytes arrives in many reads.
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = buffer_.find('\0', scanned_);
    if (end == std::string::npos) break;
    const QJsonDocument document = QJsonDocument::fromJson(
        QByteArray::fromRawData(buffer_.data() + start, static_cast<qsizetype>(end - start)));
    start = end + 1;
    scanned_ = start;
    if (document.isObject()) Dispatch(document.object());
  }
  buffer_.erase(0, start);
  scanned_ = buffer_.size();

  if (ended) OnBrowserGone();
  WakeWaiters();
}

void TWebBrowser::Dispatch(const QJsonObject& message) {
  if (message.contains("id")) {
    const auto found = pending_.find(message.value("id").toInt());
    if (found == pending_.end()) return;
    const TReplyHandler handler = std::move(found->second);
    pending_.erase(found);
    if (handler) handler(message);
    return;
  }
  if (message.value("sessionId").toString() != sessionId_ || sessionId_.isEmpty()) {
    if (message.value("method").toString() == "Target.detachedFromTarget" &&
        message.value("params").toObject().value("sessionId").toString() == sessionId_ &&
        !sessionId_.isEmpty())
      OnEvent("Inspector.detached", {});
    return;
  }
  OnEvent(message.value("method").toString(), message.value("params").toObject());
}

void TWebBrowser::OnEvent(const QString& method, const QJsonObject&) {
  if (method == "Page.loadEventFired") {
    OnLoaded();
  } else if (method == "Inspector.targetCrashed" || method == "Inspector.detached") {
    Fail(std::make_exception_ptr(EBrowserError("The page crashed in the browser")));
    gone_ = true;
    WakeWaiters();
  }
}

void TWebBrowser::OnBrowserGone() {
  if (gone_) return;
  gone_ = true;
  if (notifier_) notifier_->setEnabled(false);
  if (!closing_) Fail(std::make_exception_ptr(EBrowserError("The browser ended unexpectedly")));
  WakeWaiters();
}

QJsonObject TWebBrowser::Evaluate(const std::string& expression) {
  const QJsonObject result = Call("Runtime.evaluate",
                                  {{"expression", QString::fromStdString(expression)},
                                   {"awaitPromise", true},
                                   {"returnByValue", true}},
                                  kCallLimit);
  if (result.contains("exceptionDetails"))
    throw Exception(
        result.value("exceptionDetails").toObject().value("text").toString().toStdString());
  return result.value("result").toObject();
}

void TWebBrowser::Draw(TBitmap& raster) {
  const QJsonObject result =
      Call("Page.captureScreenshot", {{"format", "png"}, {"fromSurface", true}}, kDrawLimit);
  QImage image;
  {
    const QByteArray png = QByteArray::fromBase64(result.value("data").toString().toLatin1());
    if (!image.loadFromData(png, "PNG"))
      throw EOutOfResources("The browser's picture of the page cannot be read");
  }
  if (image.width() != raster.Width() || image.height() != raster.Height())
    throw EOutOfResources("The browser cannot render the page at " +
                          std::to_string(raster.Width()) + " x " + std::to_string(raster.Height()) +
                          " pixels");
  // RGB32 is B, G, R, 0xFF in memory: the layout of a 32-bit raster row.
  image.convertTo(QImage::Format_RGB32);
  const std::size_t rowBytes = static_cast<std::size_t>(raster.Width()) * 4;
  for (int y = 0; y < raster.Height(); ++y)
    std::memcpy(raster.ScanLine(y), image.constScanLine(y), rowBytes);
}

void TWebBrowser::Abort() {
  aborted_ = true;
  loadTimer_.stop();
  WakeWaiters();
}

void TWebBrowser::Close() noexcept {
  closing_ = true;
  loadTimer_.stop();
  notifier_.reset();
  process_.reset();
  pending_.clear();
  WakeWaiters();
}

}  // namespace vornesk
