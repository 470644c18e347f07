// The program's entry: `vornesk URL [WIDTH HEIGHT [OUTPUT]]`.
#include <QApplication>
#include <QCoreApplication>
#include <QImageReader>
#include <iostream>
#include <memory>

#include "app/CommandLine.h"
#include "app/Dialogs.h"
#include "app/Signals.h"
#include "app/Unit1.h"

int main(int argc, char** argv) {
  using namespace vornesk;
  const TParams params(argc, argv);
  if (params.ParamCount() == 1 && params.ParamStr(1) == "--version") {
    std::cout << "vornesk " VORNESK_VERSION << std::endl;
    return 0;
  }

  // Qt reads options of its own from the arguments it is given; the page's
  // address and the sizes are none of its business.
  int qtArgc = 1;
  char name[] = "vornesk";
  char* qtArgv[] = {name, nullptr};
  const bool windows = HasDisplay() && DisplayReachable();
  if (HasDisplay() && !windows)
    ShowWarning("cannot open the display " + DisplayName() + "; going on without a window");
  SetWindowMode(windows);
  std::unique_ptr<QCoreApplication> application;
  if (windows)
    application = std::make_unique<QApplication>(qtArgc, qtArgv);
  else
    application = std::make_unique<QCoreApplication>(qtArgc, qtArgv);
  QCoreApplication::setApplicationName(kApplicationTitle);
  // The browser's picture of a large page is larger than Qt's default limit
  // for a decoded image; the size was checked on the command line.
  QImageReader::setAllocationLimit(0);

  TForm1 Form1(params);
  const TSignalPipe stopOnSignal([&Form1](int) { Form1.Terminate(1); });
  Form1.FormCreate();
  return Form1.Run();
}
