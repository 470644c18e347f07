#include "app/Dialogs.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <cstdlib>
#include <iostream>

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

}  // namespace

bool HasDisplay() {
  return IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY");
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
