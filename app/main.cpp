// Program start: the main window is the only window created here; the others
// are opened from its menu.
#include <QApplication>

#include "ui/fMain.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Kavlo Shipment Vadoviver"));
  TfrmMain frmMain;
  frmMain.show();
  return app.exec();
}
