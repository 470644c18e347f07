#include "app/Dialogs.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string_view>

namespace vornesk {

namespace {

bool windowMode = false;

bool IsSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0';
}

// Qt lays out "\n"; the texts themselves keep their CR LF.
QString DisplayText(const std::string& text) {
  QString shown = QString::fromStdString(text);
  shown.replace("\r\n", "\n");
  return shown;
}

void ShowBox(const std::string& caption, const std::string& text, QMessageBox::Icon icon) {
  if (!windowMode) {
    std::cerr << caption << '\n' << text << std::endl;
    return;
  }
  QMessageBox box(icon, QString::fromStdString(caption), DisplayText(text), QMessageBox::Ok);
  box.setDefaultButton(QMessageBox::Ok);
  box.setEscapeButton(QMessageBox::Ok);
  box.exec();
}

// Whether a local stream socket accepts connections: at `path` in the file
// system, or under that name in the abstract namespace.
bool Accepts(const std::string& path, bool abstract) {
  sockaddr_un address{};
  const std::size_t offset = abstract ? 1 : 0;
  if (path.size() + offset >= sizeof address.sun_path) return false;
  const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (probe < 0) return true;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path + offset, path.c_str(), path.size());
  const auto length =
      static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size());
  const bool connected = connect(probe, reinterpret_cast<sockaddr*>(&address), length) == 0;
  close(probe);
  return connected;
}

// ":N", ":N.S" or "unix:N": the local socket of X display N, on which the
// server listens both in the abstract namespace and as a file. True for a
// remote display, which is left to Qt.
bool XDisplayReachable(std::string_view display) {
  if (display.starts_with("unix:")) display.remove_prefix(4);
  if (!display.starts_with(":")) return true;
  display.remove_prefix(1);
  const std::string number(display.substr(0, display.find('.')));
  if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) return true;
  const std::string path = "/tmp/.X11-unix/X" + number;
  return Accepts(path, true) || Accepts(path, false);
}

// A compositor's socket: WAYLAND_DISPLAY itself when it is a path, else that
// name in XDG_RUNTIME_DIR.
bool WaylandDisplayReachable(const std::string& display) {
  if (display.starts_with("/")) return Accepts(display, false);
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  return runtime != nullptr && runtime[0] != '\0' &&
         Accepts(std::string(runtime) + "/" + display, false);
}

}  // namespace

bool HasDisplay() {
  return IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY");
}

bool DisplayReachable() {
  if (IsSet("QT_QPA_PLATFORM")) return true;
  // Qt tries Wayland first and X after it; either will do.
  if (IsSet("WAYLAND_DISPLAY") && WaylandDisplayReachable(std::getenv("WAYLAND_DISPLAY")))
    return true;
  return IsSet("DISPLAY") && XDisplayReachable(std::getenv("DISPLAY"));
}

std::string DisplayName() {
  return IsSet("DISPLAY")           ? std::getenv("DISPLAY")
         : IsSet("WAYLAND_DISPLAY") ? std::getenv("WAYLAND_DISPLAY")
                                    : "";
}

void SetWindowMode(bool windows) {
  windowMode = windows;
}
bool WindowMode() {
  return windowMode;
}

std::string DialogCaption(TMsgDlgType type) {
  return type == TMsgDlgType::mtInformation ? "Information" : "Error";
}

void MessageDlg(const std::string& text, TMsgDlgType type) {
  ShowBox(DialogCaption(type), text,
          type == TMsgDlgType::mtInformation ? QMessageBox::Information : QMessageBox::Critical);
}

std::string ErrorBoxText(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
  return message;
}

void ShowErrorBox(const std::string& message) {
  ShowBox(kApplicationTitle, ErrorBoxText(message), QMessageBox::Critical);
}

void ShowWarning(const std::string& text) {
  std::cerr << "vornesk: " << text << std::endl;
}

}  // namespace vornesk
