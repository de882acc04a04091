// The real main window beside a second process that plays the host program:
// a long automatic cycle in both modes while labels and shipment files keep
// arriving, and the window's answers to the host holding what the passes need.
//
// The long run takes VV_LONGRUN_PASSES timer ticks (default 2000) and stops
// early, saying so, after VV_LONGRUN_SECONDS (default 50) on a slow machine.
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <dirent.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <thread>

#include "platform/clock.h"
#include "platform/printing.h"
#include "setup/TableAccess.h"
#include "setup/uSetup.h"
#include "tests/ui/feeder_protocol.h"
#include "tests/ui/main_window_support.h"

#if defined(__SANITIZE_ADDRESS__)
#define VV_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VV_ASAN 1
#endif
#endif
#ifdef VV_ASAN
// The sanitizer's count of bytes in use (freed blocks in quarantine excluded).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

using namespace mwt;

namespace {

constexpr int ModePackage = 0;
constexpr int ModeShipment = 1;

const char* const LabelsFailed = "Unable to process package label sort.";
const char* const ResultFailed = "Unable to create the sorted result text file.";
const StatusEntry Waiting{true, "Processing Package Labels ..."};
const StatusEntry SortingLabels{true, "Sorting Package Labels ..."};

int EnvInt(const char* name, int fallback) {
  const QByteArray v = qgetenv(name);
  bool ok = false;
  const int n = v.toInt(&ok);
  return ok && n > 0 ? n : fallback;
}

// ---------------------------------------------------------------------------
// What the process holds.

struct Usage {
  long rssKb = 0;
  int fds = 0;
  size_t heap = 0;  // bytes handed out by the allocator and not yet freed
};

Usage Measure() {
  Usage u;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    long size = 0, resident = 0;
    if (std::fscanf(f, "%ld %ld", &size, &resident) == 2) u.rssKb = resident * (sysconf(_SC_PAGESIZE) / 1024);
    std::fclose(f);
  }
  if (DIR* d = opendir("/proc/self/fd")) {
    while (const dirent* e = readdir(d))
      if (e->d_name[0] != '.') ++u.fds;
    closedir(d);
    --u.fds;  // the listing's own
  }
#ifdef VV_ASAN
  u.heap = __sanitizer_get_current_allocated_bytes();
#else
  const struct mallinfo2 mi = mallinfo2();
  u.heap = mi.uordblks + mi.hblkhd;
#endif
  return u;
}

QString Describe(const Usage& u) {
  return QStringLiteral("RSS %1 kB, %2 fds, heap %3 kB").arg(u.rssKb).arg(u.fds).arg(qulonglong(u.heap / 1024));
}

// ---------------------------------------------------------------------------
// Where labels come out: a printer service that keeps every finished job, and
// the file that stands for the thermal printer's port.

class RecordingPrinter : public plat::PrinterService {
 public:
  std::vector<std::string> documents;  // finished jobs, oldest first
  int badTitles = 0;

  std::vector<std::string> Printers() override { return {"Label Printer"}; }
  bool HasDefault() override { return true; }
  std::unique_ptr<plat::PrintJob> StartJob(int position, const std::string& title) override {
    if (position != 0) return nullptr;
    if (title != "Kavlo Shipping Label") ++badTitles;
    return std::make_unique<Job>(*this);
  }

 private:
  struct Job : plat::PrintJob {
    explicit Job(RecordingPrinter& p) : printer(p) {}
    bool SendBlock(const std::string& bytes) override {
      this->bytes += bytes;
      return true;
    }
    bool End(bool ok) override {
      if (ok) printer.documents.push_back(std::move(bytes));
      return true;
    }
    RecordingPrinter& printer;
    std::string bytes;
  };
};

// A host installation: the fixture tables with a Labels table of our own
// making, folders for documents and shipment files, a sort by customer name,
// package labels to the recording printer and invoices raw to a file port.
struct HostWorld : World {
  std::string docs, in, out, port, sort;
  std::map<int, std::string> customer;  // shipment -> ship-to name

  HostWorld() {
    CopyFixtureTables();
    for (const char* f : {"/Labels.dbf", "/Labels.cdx"}) std::filesystem::remove(tables + f);
    docs = Sub("docs");
    in = Sub("in");
    out = Sub("out");
    port = Path("lpt1.out");
    WriteAll(port, "");
    sort = Path("name.qry");
    WriteSortFile(sort, {5});
    WriteAll(program + "/Vadoviver.ini", "[Paths]\r\nDesko=" + host + "\r\nSource=" + in + "\r\nResult=" + out +
                                             "\r\n[Files]\r\nQuery=" + sort + "\r\n[Ports]\r\nLPT1=" + port + "\r\n");
    WriteAll(host + "/Mondarix.ini", "[System Directories]\r\nData=" + tables + "\r\nMulti-Shipper=" + tables +
                                         "\r\nRating=" + tables +
                                         "\r\n[Printer Setup]\r\nPackagePrinter=Label Printer\r\n"
                                         "CommInvoicePrinter=Direct To Eltron\r\nKeyentryPrinter=Label Printer\r\n"
                                         "[Direct To Eltron Setup]\r\nPort=1\r\n");
  }

  std::string Labels() const { return tables + "\\Labels"; }
  std::string Source() const { return in + "/ORDER.TXT"; }
  std::string Result() const { return out + "/ORDER.TXT"; }

  // Before the window opens the engine: an empty Labels table as the host
  // has it, and the names the labels will sort by.
  bool Prepare() {
    const int engine = OpenData();
    const int t = d4create(engine, Labels(),
                           {{"FILE_NAME", 'C', 128, 0}, {"DOCUMENT", 'N', 2, 0}, {"SHIPMENT", 'N', 10, 0},
                            {"PACKAGE", 'N', 5, 0}},
                           {{"DOCUMENT", "DOCUMENT", "", 0, 0}});
    bool ok = t != 0 && d4close(t) == 0;
    const int s = mOpen(engine, tables + "\\Shipment", "");
    ok = ok && s != 0;
    for (int rc = s ? d4top(s) : 1; rc == 0; rc = d4skip(s, 1))
      if (d4deleted(s) != 1) customer[ifetch(s, "shipmentid")] = fetch(s, "st_name");
    if (s) d4close(s);
    CloseData(engine);
    for (int id : feeder::kShipments) ok = ok && customer.count(id) == 1;
    return ok;
  }
};

int CountLabels(int engine, const std::string& table) {
  const int t = mOpen(engine, table, "");
  if (t == 0) return -1;
  const int n = d4recCountDo(t);
  d4close(t);
  return n;
}

int DocumentsLeft(const std::string& folder) {
  int n = 0;
  for (const auto& e : std::filesystem::directory_iterator(folder)) n += e.is_regular_file() ? 1 : 0;
  return n;
}

// The shipment file of the blocks first..last, and what sorting it by
// customer name gives (ties keep their order).
std::string OrderFile(int first, int last) {
  std::string s;
  for (int id = first; id <= last; ++id) s += feeder::ShipmentBlock(id);
  return s;
}

std::string SortedOrderFile(int first, int last) {
  std::vector<int> ids;
  for (int id = first; id <= last; ++id) ids.push_back(id);
  std::stable_sort(ids.begin(), ids.end(),
                   [](int a, int b) { return feeder::ShipmentName(a) < feeder::ShipmentName(b); });
  std::string s;
  for (int id : ids) s += feeder::ShipmentBlock(id);
  return s;
}

// ---------------------------------------------------------------------------
// The second process.

class Feeder {
 public:
  explicit Feeder(const HostWorld& w) {
    p_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p_.start(QString::fromUtf8(VV_HELPER_feeder_helper),
             {QString::fromStdString(w.tables), QString::fromStdString(w.docs), QString::fromStdString(w.in)});
    started_ = p_.waitForStarted(10000);
  }
  ~Feeder() {
    p_.closeWriteChannel();
    if (!p_.waitForFinished(10000)) {
      p_.kill();
      p_.waitForFinished(5000);
    }
  }
  bool Started() const { return started_; }

  void Send(const std::string& command) {
    p_.write((command + "\n").c_str());
    p_.waitForBytesWritten(5000);
  }
  std::string Reply(int timeoutMs = 30000) {
    QElapsedTimer t;
    t.start();
    while (!p_.canReadLine()) {
      if (t.elapsed() > timeoutMs || p_.state() == QProcess::NotRunning) return "no answer";
      p_.waitForReadyRead(50);
    }
    return p_.readLine().trimmed().toStdString();
  }
  std::string Ask(const std::string& command) {
    Send(command);
    return Reply();
  }

 private:
  QProcess p_;
  bool started_ = false;
};

// ---------------------------------------------------------------------------
// The window under scripted services that count the timer's ticks: every tick
// ends by giving the cursor back.

class TickingUi : public ScriptedUi {
 public:
  int ticks = 0;
  std::function<void()> onTickEnd;
  void RestoreCursor() override {
    ScriptedUi::RestoreCursor();
    if (cursorDepth != 0) return;
    ++ticks;
    if (onTickEnd) onTickEnd();
  }
};

struct Window {
  std::shared_ptr<TickingUi> ui = std::make_shared<TickingUi>();
  std::unique_ptr<TfrmMain> frm;
  std::vector<StatusEntry> status;

  explicit Window(const World& world) {
    ui::SetUi(ui);
    TfrmMain::SetProgramFolder(world.program);
    frm = std::make_unique<TfrmMain>();
    ui->onProcessMessages = [this] { status.push_back({frm->panWait->isVisible(), Text(frm->panWait)}); };
    frm->show();
  }
  ~Window() {
    frm.reset();
    TfrmMain::SetProgramFolder("");
  }
  std::string Count() const { return Text(frm->txtCount); }
  void Clear() {
    ui->Reset();
    status.clear();
  }
};

// Everything that came out of the printer and the port since the last call,
// as label numbers; names receives the labels' ship-to names in the order of
// each output (each must be sorted on its own). False on bytes that are not
// whole documents.
class Outputs {
 public:
  Outputs(RecordingPrinter& printer, const HostWorld& w) : printer_(printer), w_(w) {}

  bool Take(std::vector<int>& printed, std::vector<std::string>* printerNames = nullptr,
            std::vector<std::string>* portNames = nullptr) {
    printed.clear();
    bool ok = true;
    for (const std::string& doc : printer_.documents) {
      const int id = feeder::LabelOf(doc);
      ok = ok && id > 0 && feeder::LabelDocumentKind(id) == 0;
      printed.push_back(id);
      if (printerNames) printerNames->push_back(Name(id));
    }
    printer_.documents.clear();
    const std::string all = ReadAll(w_.port);
    for (size_t at = portRead_; at < all.size();) {
      const size_t end = all.find("\r\n", at);
      if (end == std::string::npos) return false;
      const int id = feeder::LabelOf(all.substr(at, end + 2 - at));
      ok = ok && id > 0 && feeder::LabelDocumentKind(id) == 1;
      printed.push_back(id);
      if (portNames) portNames->push_back(Name(id));
      at = end + 2;
    }
    portRead_ = all.size();
    return ok;
  }

 private:
  std::string Name(int id) const {
    const auto it = w_.customer.find(feeder::LabelShipment(id));
    return it == w_.customer.end() ? std::string() : it->second;
  }
  RecordingPrinter& printer_;
  const HostWorld& w_;
  size_t portRead_ = 0;
};

// The shipments of a result file as the host would pick it up: numbers of its
// blocks, checked to be one whole shipment file sorted by name.
bool ShipmentsIn(const std::string& bytes, int& first, int& last) {
  first = last = 0;
  if (bytes.empty()) return true;
  std::vector<int> ids;
  for (size_t at = 0; at < bytes.size();) {
    const size_t end = bytes.find("\r\n", bytes.find("\r\n", at) + 2);
    if (end == std::string::npos || bytes.compare(at, 7, "H,2024,") != 0) return false;
    const int id = std::atoi(bytes.c_str() + at + 7);
    if (bytes.compare(at, end + 2 - at, feeder::ShipmentBlock(id)) != 0) return false;
    ids.push_back(id);
    at = end + 2;
  }
  first = *std::min_element(ids.begin(), ids.end());
  last = *std::max_element(ids.begin(), ids.end());
  return bytes == SortedOrderFile(first, last);
}

bool Bad(const char* why) {
  qWarning("%s", why);
  return false;
}

// The status line after a busy automatic pass: the next try one interval
// after the pass ended (just now).
bool SaysBusy(const TfrmMain& f, bool warn = true) {
  const std::string line = plat::Utf8ToCp1252(f.stbMain->currentMessage().toStdString());
  const auto now = std::chrono::system_clock::now();
  for (int late = 0; late <= 2; ++late)
    if (line == "Kavlo Desko is busy; next try at " + plat::LocalTimeOfDay(now + std::chrono::seconds(10 - late)))
      return true;
  if (warn) qWarning("status line: %s", line.c_str());
  return false;
}

bool SortedNames(const std::vector<std::string>& names) { return std::is_sorted(names.begin(), names.end()); }

}  // namespace

class LongRunTest : public QObject {
  Q_OBJECT

  std::shared_ptr<RecordingPrinter> printer_;

 private slots:
  void init() {
    printer_ = std::make_shared<RecordingPrinter>();
    plat::SetPrinting(printer_);
  }

  // -------------------------------------------------------------------------
  // Contention with the host program.

  void labelsAddedDuringTheWaitPostponeThePass() {
    HostWorld w;
    QVERIFY(w.Prepare());
    Feeder feeder(w);
    QVERIFY(feeder.Started());
    QCOMPARE(feeder.Ask("label 3"), std::string("added 3"));
    Window win(w);
    Outputs outputs(*printer_, w);
    TfrmMain& f = *win.frm;
    f.btnProcess->click();
    const int engine = f.EngineHandle();

    // The host adds a label during each of the next two waits.
    int adds = 2;
    std::vector<std::string> replies;
    win.ui->onPause = [&](int) {
      if (adds-- > 0) replies.push_back(feeder.Ask("label 1"));
    };
    std::vector<int> printed;
    for (int tick = 1; tick <= 2; ++tick) {
      win.Clear();
      f.tmrProcessTimer();
      QVERIFY(!replies.empty());
      QCOMPARE(replies.back(), "added " + std::to_string(3 + tick));
      QCOMPARE(win.ui->pauses, std::vector<int>{60000});
      QCOMPARE(win.status, (std::vector<StatusEntry>{Waiting, SortingLabels}));
      QVERIFY(!f.panWait->isVisible());
      QVERIFY(win.ui->messages.empty());
      QVERIFY(outputs.Take(printed));
      QVERIFY(printed.empty());
      QCOMPARE(CountLabels(engine, w.Labels()), 3 + tick);
      QCOMPARE(DocumentsLeft(w.docs), 3 + tick);
      QCOMPARE(win.Count(), std::string("0 "));
      QVERIFY(f.tmrProcess->isActive());
    }

    // The count holds over the next wait: all five print, once each.
    win.Clear();
    f.tmrProcessTimer();
    QVERIFY(win.ui->messages.empty());
    QVERIFY(outputs.Take(printed));
    std::sort(printed.begin(), printed.end());
    QCOMPARE(printed, (std::vector<int>{1, 2, 3, 4, 5}));
    QCOMPARE(CountLabels(engine, w.Labels()), 0);
    QCOMPARE(DocumentsLeft(w.docs), 0);
    QCOMPARE(win.Count(), std::string("1 "));
    QCOMPARE(printer_->badTitles, 0);

    win.Clear();
    f.tmrProcessTimer();
    QVERIFY(win.ui->pauses.empty());
    QVERIFY(outputs.Take(printed));
    QVERIFY(printed.empty());
    QCOMPARE(win.Count(), std::string("1 "));
  }

  void orderHeldOpenIsBusyAndLeftForALaterPass() {
    HostWorld w;
    QVERIFY(w.Prepare());
    Feeder feeder(w);
    QVERIFY(feeder.Started());
    QCOMPARE(feeder.Ask("order 5"), std::string("ordered 1 5"));
    QCOMPARE(feeder.Ask("hold"), std::string("held"));
    Window win(w);
    TfrmMain& f = *win.frm;
    f.tabMode->setCurrentIndex(ModeShipment);
    f.btnProcess->click();

    // While the host writes it, every pass leaves the file as it is and
    // says so on the status line only: the host is busy, nothing failed.
    for (int tick = 1; tick <= 2; ++tick) {
      win.Clear();
      f.tmrProcessTimer();
      QCOMPARE(ReadAll(w.Source()), OrderFile(1, 5));
      QVERIFY(!Exists(w.Result()) || ReadAll(w.Result()).empty());
      QVERIFY(win.ui->messages.empty());
      QVERIFY(SaysBusy(f));
      QVERIFY(!f.panWait->isVisible());
      QCOMPARE(win.Count(), std::string("0 "));
      QVERIFY(f.tmrProcess->isActive());
    }

    QCOMPARE(feeder.Ask("release"), std::string("released"));
    win.Clear();
    f.tmrProcessTimer();
    QVERIFY(win.ui->messages.empty());
    QVERIFY(f.stbMain->currentMessage().endsWith(": ok, shipment file sorted"));
    QVERIFY(!Exists(w.Source()));
    QCOMPARE(ReadAll(w.Result()), SortedOrderFile(1, 5));
    QCOMPARE(win.Count(), std::string("1 "));

    // Sorted once: the next pass finds no source.
    win.Clear();
    f.tmrProcessTimer();
    QVERIFY(win.status.empty());
    QCOMPARE(ReadAll(w.Result()), SortedOrderFile(1, 5));
    QCOMPARE(win.Count(), std::string("1 "));
  }

  void labelsLockHeldIsBusyAndTheNextPassSucceeds() {
    HostWorld w;
    QVERIFY(w.Prepare());
    Feeder feeder(w);
    QVERIFY(feeder.Started());
    QCOMPARE(feeder.Ask("label 4"), std::string("added 4"));
    QCOMPARE(feeder.Ask("lock"), std::string("locked"));
    Window win(w);
    Outputs outputs(*printer_, w);
    TfrmMain& f = *win.frm;
    f.btnProcess->click();
    const int engine = f.EngineHandle();

    win.Clear();
    f.tmrProcessTimer();
    QVERIFY(win.ui->messages.empty());
    QVERIFY(SaysBusy(f));
    std::vector<int> printed;
    QVERIFY(outputs.Take(printed));
    QVERIFY(printed.empty());
    QCOMPARE(CountLabels(engine, w.Labels()), 4);
    QCOMPARE(DocumentsLeft(w.docs), 4);
    QVERIFY(!f.panWait->isVisible());
    QCOMPARE(win.Count(), std::string("0 "));
    QVERIFY(f.tmrProcess->isActive());

    QCOMPARE(feeder.Ask("unlock"), std::string("unlocked"));
    win.Clear();
    f.tmrProcessTimer();
    QVERIFY(win.ui->messages.empty());
    QVERIFY(f.stbMain->currentMessage().endsWith(": ok, 4 labels printed"));
    QVERIFY(outputs.Take(printed));
    std::sort(printed.begin(), printed.end());
    QCOMPARE(printed, (std::vector<int>{1, 2, 3, 4}));
    QCOMPARE(CountLabels(engine, w.Labels()), 0);
    QCOMPARE(DocumentsLeft(w.docs), 0);
    QCOMPARE(win.Count(), std::string("1 "));
    // The log: the busy pass without a message, each label printed, the pass.
    const std::string log = ReadAll(w.program + "/Vadoviver.log");
    const size_t busy = log.find("\tpass\tpackage\tbusy\t\t0\n"), ok = log.find("\tpass\tpackage\tok\t\t4\n");
    QVERIFY2(busy != std::string::npos && ok != std::string::npos && busy < ok, log.c_str());
    int logged = 0;
    for (size_t at = busy; (at = log.find("\tprinted\t", at)) != std::string::npos && at < ok; ++at) ++logged;
    QCOMPARE(logged, 4);
  }

  // -------------------------------------------------------------------------
  // The long run.

  void automaticCycleRunsLongAndLosesNothing() {
    const int passes = EnvInt("VV_LONGRUN_PASSES", 2000);
    const int budgetMs = EnvInt("VV_LONGRUN_SECONDS", 50) * 1000;
    constexpr int kSegment = 40;   // ticks in one mode before the user switches
    constexpr int kCap = 100000;   // most labels and shipments the host makes

    HostWorld w;
    QVERIFY(w.Prepare());
    Feeder feeder(w);
    QVERIFY(feeder.Started());
    Window win(w);
    Outputs outputs(*printer_, w);
    TfrmMain& f = *win.frm;
    const int engine = f.EngineHandle();
    // Short waits: the settling pause lasts a few milliseconds, and the
    // timer ticks as soon as the window is idle.
    win.ui->onPause = [](int) { std::this_thread::sleep_for(std::chrono::milliseconds(3)); };
    f.tmrProcess->setInterval(1);
    f.btnProcess->click();
    QVERIFY(f.tmrProcess->isActive());

    std::vector<uint8_t> labelSeen(kCap + 1), shipmentSeen(kCap + 1);
    std::vector<int> printed;
    std::vector<std::string> printerNames, portNames;
    printed.reserve(4096);
    printerNames.reserve(4096);
    portNames.reserve(4096);

    struct Tally {
      int ticks = 0, labelPasses = 0, shipmentPasses = 0, waitedAgain = 0, lockBusy = 0, fileBusy = 0;
      int labels = 0, shipments = 0, switches = 0;
    } tally;
    int mode = ModePackage;
    int succeeded = 0;  // in the current mode, as the counter must show

    // What came of one tick, checked as the tick ends (before the timer is
    // armed again, so that no second tick can mix in).
    auto afterTick = [&]() -> bool {
      ++tally.ticks;
      const auto& messages = win.ui->messages;
      if (!win.ui->errors.empty()) qWarning("error box: %s", win.ui->errors[0].c_str());
      if (!win.ui->errors.empty() || f.panWait->isVisible() || win.ui->cursorDepth != 0)
        return Bad("the window was left in a wrong state");

      printerNames.clear();
      portNames.clear();
      if (!outputs.Take(printed, &printerNames, &portNames)) return Bad("bytes that are no label document");
      if (!SortedNames(printerNames) || !SortedNames(portNames)) {
        qWarning("labels out of order");
        return false;
      }
      for (int id : printed) {
        if (id > kCap || labelSeen[static_cast<size_t>(id)]++ != 0) {
          qWarning("label %d printed twice", id);
          return false;
        }
      }
      tally.labels += static_cast<int>(printed.size());

      int first = 0, last = 0;
      const std::string result = Exists(w.Result()) ? ReadAll(w.Result()) : std::string();
      if (!ShipmentsIn(result, first, last)) {
        qWarning("result file damaged: %zu bytes", result.size());
        return false;
      }
      if (!result.empty()) {
        std::filesystem::remove(w.Result());  // the host takes it away
        for (int id = first; id <= last; ++id)
          if (id > kCap || shipmentSeen[static_cast<size_t>(id)]++ != 0) {
            qWarning("shipment %d sorted twice", id);
            return false;
          }
        tally.shipments += last - first + 1;
      }

      if (mode == ModePackage) {
        if (!result.empty()) return Bad("shipments sorted in Package mode");
        for (const RecordedMessage& m : messages)
          if (m.text != LabelsFailed || m.caption != "Error Occured" || m.icon != ui::MsgIcon::Warning)
            return Bad(m.caption.c_str());
        if (!printed.empty()) {
          if (!messages.empty()) {
            QString ids;
            for (int id : printed) ids += QString::number(id) + " ";
            qWarning("printed %s; %d labels wait, %d documents", qPrintable(ids), CountLabels(engine, w.Labels()),
                     DocumentsLeft(w.docs));
            return Bad("a pass printed and failed");
          }
          ++succeeded;
          ++tally.labelPasses;
        } else if (SaysBusy(f, false)) {
          ++tally.lockBusy;  // the host was appending at the moment the pass wanted the lock
        } else if (!win.ui->pauses.empty()) {
          ++tally.waitedAgain;
        }
      } else {
        if (!printed.empty()) return Bad("labels printed in Shipment mode");
        for (const RecordedMessage& m : messages)
          if (m.text != ResultFailed || m.caption != "Unable to create new file" || m.icon != ui::MsgIcon::Warning)
            return Bad(m.caption.c_str());
        if (!result.empty()) {
          if (!messages.empty()) {
            qWarning("sorted %d..%d, %zu messages, source %s: %zu bytes", first, last, messages.size(),
                     Exists(w.Source()) ? "left" : "gone", Exists(w.Source()) ? ReadAll(w.Source()).size() : 0);
            return Bad("a pass sorted and failed");
          }
          ++succeeded;
          ++tally.shipmentPasses;
        } else if (!messages.empty() || SaysBusy(f, false)) {
          if (!Exists(w.Source())) return Bad("a failed pass lost its source");
          ++tally.fileBusy;  // the host still had ORDER.TXT open
        }
      }
      if (win.Count() != std::to_string(succeeded) + " ") {
        qWarning("counter shows \"%s\" after %d successful passes", win.Count().c_str(), succeeded);
        return false;
      }
      win.Clear();
      return true;
    };
    std::string failure;
    win.ui->onTickEnd = [&] {
      if (failure.empty() && !afterTick())
        failure = QStringLiteral("tick %1 in mode %2").arg(tally.ticks).arg(mode).toStdString();
    };
    // Lets the real timer run until the window has made n ticks in all.
    auto runUntil = [&](int n) -> bool {
      QElapsedTimer t;
      t.start();
      while (win.ui->ticks < n && failure.empty()) {
        if (t.elapsed() > 20000) {
          failure = "the cycle stopped ticking";
          break;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
      }
      if (failure.empty() && !f.tmrProcess->isActive()) failure = "the timer is off";
      if (!failure.empty()) qWarning("%s", failure.c_str());
      return failure.empty();
    };

    // The user changes the mode, in the cycle or with Stop and Process.
    auto switchMode = [&]() -> bool {
      mode = mode == ModePackage ? ModeShipment : ModePackage;
      if (++tally.switches % 2 == 0) {
        f.tabMode->setCurrentIndex(mode);
      } else {
        f.btnStop->click();
        f.tabMode->setCurrentIndex(mode);
        f.btnProcess->click();
      }
      succeeded = 0;
      return win.Count() == "0 " && f.tmrProcess->isActive() && win.ui->messages.empty();
    };

    QElapsedTimer clock;
    clock.start();
    feeder.Send("stream " + std::to_string(kCap) + " " + std::to_string(kCap) + " 20261208");
    const int warmUp = std::max(1, std::min(200, passes / 5));
    Usage baseline, peak, atEnd;
    for (int n = 1; n <= passes; ++n) {
      if (n > 1 && (n - 1) % kSegment == 0) QVERIFY(switchMode());
      QVERIFY(runUntil(n));
      if (n == warmUp) peak = baseline = Measure();
      if (n > warmUp) {
        const Usage u = Measure();
        peak.rssKb = std::max(peak.rssKb, u.rssKb);
        peak.fds = std::max(peak.fds, u.fds);
        peak.heap = std::max(peak.heap, u.heap);
      }
      if (clock.elapsed() > budgetMs) {
        qWarning("time budget reached after %d passes", n);
        break;
      }
    }
    atEnd = Measure();
    const int mainTicks = tally.ticks;
    const qint64 mainMs = clock.elapsed();

    // The host stops; every label and shipment it made must come out.
    const std::string stopped = feeder.Ask("stop");
    int lastLabel = 0, lastShipment = 0;
    QVERIFY2(std::sscanf(stopped.c_str(), "stopped %d %d", &lastLabel, &lastShipment) == 2, stopped.c_str());
    QVERIFY(lastLabel > 0 && lastShipment > 0);
    for (int drain = 0;; ++drain) {
      QVERIFY2(drain < 40, "the window did not catch up with the host");
      const bool labelsLeft = CountLabels(engine, w.Labels()) != 0 || tally.labels != lastLabel;
      const bool shipmentsLeft = Exists(w.Source()) || tally.shipments != lastShipment;
      if (!labelsLeft && !shipmentsLeft) break;
      if ((mode == ModePackage) != labelsLeft) QVERIFY(switchMode());
      QVERIFY(runUntil(win.ui->ticks + 5));
    }
    f.btnStop->click();

    for (int id = 1; id <= lastLabel; ++id)
      QVERIFY2(labelSeen[static_cast<size_t>(id)] == 1, qPrintable(QString::number(id)));
    for (int id = 1; id <= lastShipment; ++id)
      QVERIFY2(shipmentSeen[static_cast<size_t>(id)] == 1, qPrintable(QString::number(id)));
    QCOMPARE(tally.labels, lastLabel);
    QCOMPARE(tally.shipments, lastShipment);
    QCOMPARE(CountLabels(engine, w.Labels()), 0);
    QCOMPARE(DocumentsLeft(w.docs), 0);
    for (const auto& e : std::filesystem::directory_iterator(std::filesystem::path(w.Result()).parent_path()))
      QVERIFY2(e.path().filename().string().find(".vvtmp") == std::string::npos, "temporary file left behind");
    QVERIFY(!Exists(w.Result()) || ReadAll(w.Result()).empty());
    QCOMPARE(printer_->badTitles, 0);
    const Usage drained = Measure();

    qInfo("long run: %d passes in %lld ms (%d with the drain), %d mode switches", mainTicks, mainMs, tally.ticks,
          tally.switches);
    qInfo("  %d label passes printed %d labels; %d shipment passes sorted %d shipments", tally.labelPasses,
          tally.labels, tally.shipmentPasses, tally.shipments);
    qInfo("  waited again %d, Labels locked by the host %d, ORDER.TXT still open %d", tally.waitedAgain,
          tally.lockBusy, tally.fileBusy);
    qInfo("  after warm-up (%d passes): %s", warmUp, qPrintable(Describe(baseline)));
    qInfo("  peak after warm-up:        %s", qPrintable(Describe(peak)));
    qInfo("  end of the cycle:          %s", qPrintable(Describe(atEnd)));
    qInfo("  after the drain:           %s", qPrintable(Describe(drained)));

    QVERIFY(tally.labelPasses > 0 && tally.shipmentPasses > 0);
    // Flat: no handle more than after the warm-up, and the heap and the
    // resident set grow by no more than a small allowance over the whole run.
    QCOMPARE(atEnd.fds, baseline.fds);
    QVERIFY2(peak.fds <= baseline.fds + 2, "open files grew during the run");
    const size_t heapAllowance = 128 * 1024;
    QVERIFY2(atEnd.heap <= baseline.heap + heapAllowance, qPrintable(Describe(atEnd)));
#ifndef VV_ASAN
    // (Under the address sanitizer freed memory is held in quarantine, so the
    // resident set says nothing there; its allocator count above does.)
    QVERIFY2(atEnd.rssKb <= baseline.rssKb + 4096, qPrintable(Describe(atEnd)));
#endif
  }
};

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  LongRunTest t;
  return QTest::qExec(&t, argc, argv);
}

#include "longrun_test.moc"
