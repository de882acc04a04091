#pragma once
// Shared setup for the main-window tests: a program folder of their own, a
// Kavlo Desko folder with real tables, sort files, and a log of what the
// status panel showed whenever the window let messages through.
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/text.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/scripted_ui_support.h"
#include "ui/fMain.h"

namespace mwt {

inline std::string ReadAll(const std::string& path) { return vvtest::ReadFile(path); }
inline void WriteAll(const std::string& path, const std::string& text) { vvtest::WriteFile(path, text); }
using vvtest::Exists;

// A sort file as the sort-order window writes it.
inline void WriteSortFile(const std::string& path, const std::vector<int>& codes) {
  std::string text = "[Keys]\r\n";
  for (size_t i = 0; i < codes.size(); ++i)
    text += "Key" + std::to_string(i + 1) + "=" + std::to_string(codes[i]) + "\r\n";
  WriteAll(path, text);
}

inline std::string Text(const QLabel* l) { return plat::Utf8ToCp1252(l->text().toStdString()); }

// One entry per ProcessMessages: was the status panel up, and what did it say.
struct StatusEntry {
  bool visible;
  std::string text;
  bool operator==(const StatusEntry& o) const { return visible == o.visible && text == o.text; }
};

// A temporary world: program folder (Vadoviver.ini), host folder (Mondarix.ini)
// and one folder for the host's tables.
class World {
 public:
  vvtest::TempDir root;
  std::string program, host, tables;

  World() {
    program = Sub("program");
    host = Sub("host");
    tables = Sub("tables");
  }

  std::string Sub(const char* name) { return root.Sub(name); }
  std::string Path(const std::string& name) const { return root / name; }

  void WriteVadoviverIni(const std::string& source, const std::string& result, const std::string& query) {
    WriteAll(program + "/Vadoviver.ini", "[Paths]\r\nDesko=" + host + "\r\nSource=" + source + "\r\nResult=" +
                                             result + "\r\n[Files]\r\nQuery=" + query + "\r\n");
  }

  // Mondarix.ini naming the tables folder for all three roles and one printer
  // for every kind of document.
  void WriteMondarixIni(const std::string& printer) {
    WriteAll(host + "/Mondarix.ini", "[System Directories]\r\nData=" + tables + "\r\nMulti-Shipper=" + tables +
                                         "\r\nRating=" + tables + "\r\n[Printer Setup]\r\nPackagePrinter=" + printer +
                                         "\r\nCommInvoicePrinter=" + printer + "\r\nKeyentryPrinter=" + printer +
                                         "\r\n");
  }

  void CopyFixtureTables() {
    const std::filesystem::path from = std::filesystem::path(VV_FIXTURES) / "xbase" / "small";
    for (const auto& entry : std::filesystem::directory_iterator(from)) {
      if (!entry.is_regular_file()) continue;
      vvtest::CopyFile(entry.path().string(), tables + "/" + entry.path().filename().string());
    }
  }
};

// Starts the main window on a world's program folder with scripted services.
struct Running {
  std::shared_ptr<ScriptedUi> ui;
  std::unique_ptr<TfrmMain> frm;
  std::vector<StatusEntry> status;

  explicit Running(const World& world) {
    ui = InstallScriptedUi();
    TfrmMain::SetProgramFolder(world.program);
    frm = std::make_unique<TfrmMain>();
    ui->onProcessMessages = [this] { status.push_back({frm->panWait->isVisible(), Text(frm->panWait)}); };
    frm->show();
  }
  ~Running() {
    frm.reset();
    TfrmMain::SetProgramFolder("");
  }
  void Mode(int mode, int process) {
    frm->tabMode->setCurrentIndex(mode);
    frm->tabProcess->setCurrentIndex(process);
  }
  std::string Count() const { return Text(frm->txtCount); }
  void Clear() {
    ui->Reset();
    status.clear();
  }
};

}  // namespace mwt
