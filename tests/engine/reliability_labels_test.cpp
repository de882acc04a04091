// Label passes under every injected fault, and label documents that are not
// plain files.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

#include <functional>
#include <memory>

#include "engine/label_refusal.h"
#include "engine/labels.h"
#include "engine/uSequncr.h"
#include "platform/os.h"
#include "tests/support/fault.h"
#include "reliability.h"
#include "tests/fault_points.h"

namespace {

using rel::Installation;

class LabelReliability : public ::testing::Test {
 protected:
  void SetUp() override {
    engine = OpenData();
    ASSERT_NE(engine, 0);
    printer = std::make_shared<rel::RecordingPrinter>();
    plat::SetPrinting(printer);
    order = {sfCustomerName};
  }
  void TearDown() override {
    plat::ResetFaults();
    AppSetup = nullptr;
    setup.reset();
    inst.reset();
    plat::SetPrinting(nullptr);
    CloseData(engine);
  }

  // A fresh installation with labels 1..n waiting; label `missing` (if any)
  // has no document yet.
  void Fresh(int n, int missing = 0) {
    if (!inst || n != labels || missing != missing_) {
      AppSetup = nullptr;
      setup.reset();
      inst = std::make_unique<Installation>();
      inst->CreateTables(engine, n);
      if (missing) rel::fs::remove(inst->Doc(missing));
      setup = std::make_unique<TSetup>(inst->prog);
      AppSetup = setup.get();
      ASSERT_EQ(AppSetup->PackagePrinter, 0);
      snapshot = inst->Snapshot();
      labels = n;
      missing_ = missing;
    } else {
      inst->Restore(snapshot);
    }
    printer->printed.clear();
  }

  bool Pass() { return SequenceLabels(provinces, order); }

  int engine = 0;
  std::shared_ptr<rel::RecordingPrinter> printer;
  std::unique_ptr<Installation> inst;
  std::map<std::string, std::string> snapshot;
  int labels = 0, missing_ = 0;
  std::unique_ptr<TSetup> setup;
  TProvinceArray provinces;
  TSortOrderArray order;
};

// Under any single failure of a file or table operation, and a disk that
// fills up: no label lost, none printed twice but the one in flight, and the
// next clean pass prints exactly the rest (the queue never sticks).
TEST_F(LabelReliability, PassUnderEveryFault) {
  const int n = 4;
  struct Scenario {
    const char* what;
    int missing;  // a label whose document is not there yet: the pass stops at it
  };
  int total = 0, twice = 0, syncs = 0;
  for (const Scenario& s : {Scenario{"all documents there", 0}, Scenario{"third in order not written yet", 2}}) {
    SCOPED_TRACE(s.what);
    bool ok = false;
    total += faults::ForEachPoint(
        [&] { Fresh(n, s.missing); }, [&] { ok = Pass(); },
        [&](const faults::Point& p, bool hit) {
          if (!hit) {
            EXPECT_EQ(ok, !s.missing);
          }
          // A mark that cannot be made durable stops the pass before the
          // next label: nothing printed but the labels marked done.
          if (hit && p.op == plat::Op::Flush) {
            EXPECT_FALSE(ok) << "a failed sync was reported as success";
            EXPECT_EQ(static_cast<int>(printer->printed.size()), n - inst->WaitingLabels(engine));
            ++syncs;
          }
          if (s.missing) rel::Write(inst->Doc(s.missing), rel::LabelDocument(s.missing));
          const size_t first = printer->printed.size();
          EXPECT_TRUE(Pass()) << "the queue is stuck after the fault";
          EXPECT_EQ(inst->WaitingLabels(engine), 0);
          const auto counts = printer->Counts();
          rel::ExpectEachLabelOnce(counts, n);
          for (const auto& [id, c] : counts) twice += c > 1 ? 1 : 0;
          // The clean pass prints the rest in sorted order (ids descending).
          for (size_t i = first + 1; i < printer->printed.size(); ++i) {
            EXPECT_GT(printer->printed[i - 1], printer->printed[i]);
          }
          const size_t before = printer->printed.size();
          EXPECT_TRUE(Pass());
          EXPECT_EQ(printer->printed.size(), before) << "a third pass printed again";
        });
  }
  EXPECT_GT(total, 10);
  EXPECT_GE(syncs, n) << "the marks are not synced";
  faults::Figure("label pass injection points", total);
  faults::Figure("label pass injection points with the in-flight label printed twice", twice);
}

// A document named `name` (under docs) holding a printable label.
std::string LabelFile(Installation& i, const std::string& name) {
  const std::string f = i.docs + "/" + name;
  rel::Write(f, rel::LabelDocument(7));
  return f;
}

// Adds [Labels] Folders to the program's settings.
void SetLabelFolders(Installation& i, const std::string& folders) {
  rel::Write(i.prog + "/Vadoviver.ini", rel::Read(i.prog + "/Vadoviver.ini") + "[Labels]\r\nFolders=" + folders + "\r\n");
}

// A file_name that names a folder, a device, a FIFO or a symbolic link, the
// host's tables, settings or sort files, a program, a document too large, or
// one outside [Labels] Folders is refused like a missing document: nothing
// printed, nothing deleted, and the pass stops there as for any label that
// cannot print.
TEST_F(LabelReliability, OnlyPlainFilesAreLabelDocuments) {
  struct Case {
    const char* what;
    std::function<std::string(Installation&)> make;  // the name to put in file_name
    bool reason = false;                               // says why it was refused
  };
  auto file = [](const char* name) { return [name](Installation& i) { return LabelFile(i, name); }; };
  const std::vector<Case> cases = {
      {"the host's Shipment table", [](Installation& i) { return i.data + "/Shipment.dbf"; }, true},
      {"the host's Shipment index", [](Installation& i) { return i.data + "/Shipment.cdx"; }, true},
      {"a table in capitals", file("OLD.DBF"), true},
      {"a table in mixed case", file("old.DbF"), true},
      {"a table with a trailing dot", file("old.dbf."), true},
      {"memo files", file("notes.fpt"), true},
      {"other index kinds", file("x.NTX"), true},
      {"the host's settings", [](Installation& i) { return i.host + "/Mondarix.ini"; }, true},
      {"the program's settings", [](Installation& i) { return i.prog + "/Vadoviver.ini"; }, true},
      {"a sort file", [](Installation& i) { return i.sortFile; }, true},
      {"a program", file("tool.Exe"), true},
      {"a batch file", file("run.bat"), true},
      {"larger than 16 MB", [](Installation& i) {
         const std::string f = LabelFile(i, "big.lbl");
         rel::fs::resize_file(f, 16 * 1024 * 1024 + 1);
         return f;
       }, true},
      {"outside [Labels] Folders", [](Installation& i) {
         rel::fs::create_directories(i.root / "labels");
         SetLabelFolders(i, (i.root / "labels").string());
         return LabelFile(i, "x.lbl");
       }, true},
      {"out of the label folder by ..", [](Installation& i) {
         SetLabelFolders(i, i.docs + "/sub");
         rel::fs::create_directories(i.docs + "/sub");
         LabelFile(i, "x.lbl");
         return i.docs + "/sub/../x.lbl";
       }, true},
      {"label folders that do not exist", [](Installation& i) {
         SetLabelFolders(i, (i.root / "nothing").string());
         return LabelFile(i, "x.lbl");
       }, true},
      {"folder", [](Installation& i) {
         rel::fs::create_directories(i.docs + "/folder.lbl");
         return i.docs + "/folder.lbl";
       }},
#ifndef _WIN32  // devices and FIFOs are made the POSIX way; Wine makes no symbolic links
      {"out of the label folder through a linked folder", [](Installation& i) {
         SetLabelFolders(i, i.docs + "/sub");
         rel::fs::create_directories(i.docs + "/sub");
         rel::fs::create_directory_symlink(i.host, i.docs + "/sub/host");
         rel::Write(i.host + "/x.lbl", rel::LabelDocument(7));
         return i.docs + "/sub/host/x.lbl";
       }, true},
      // A private twin of /dev/null: should the refusal ever fail, only the
      // twin is printed from and deleted, never the system's device.
      {"device", [](Installation& i) {
         const std::string dev = i.docs + "/null.lbl";
         EXPECT_EQ(mknod(dev.c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
         return dev;
       }},
      {"FIFO", [](Installation& i) {
         const std::string f = i.docs + "/fifo.lbl";
         EXPECT_EQ(mkfifo(f.c_str(), 0600), 0);
         return f;
       }},
      {"symbolic link to a document", [](Installation& i) {
         const std::string target = i.root.string() + "/elsewhere.lbl";
         rel::Write(target, rel::LabelDocument(7));
         const std::string link = i.docs + "/link.lbl";
         EXPECT_EQ(symlink(target.c_str(), link.c_str()), 0);
         return link;
       }},
      {"symbolic link to a folder", [](Installation& i) {
         const std::string link = i.docs + "/dirlink.lbl";
         EXPECT_EQ(symlink(i.data.c_str(), link.c_str()), 0);
         return link;
       }},
      {"dangling symbolic link", [](Installation& i) {
         const std::string link = i.docs + "/dangling.lbl";
         EXPECT_EQ(symlink((i.root / "nothing").c_str(), link.c_str()), 0);
         return link;
       }},
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    inst.reset();
    Fresh(2);
    const std::string name = c.make(*inst);
    AppSetup = nullptr;
    setup = std::make_unique<TSetup>(inst->prog);  // with the settings the case wrote
    AppSetup = setup.get();
    // The odd label sorts first (highest id), so the pass meets it first.
    const int t = mOpen(engine, inst->multi + "\\Labels", "");
    ASSERT_NE(t, 0);
    ASSERT_EQ(d4top(t), 0);
    ASSERT_EQ(d4skip(t, 1), 0);
    ASSERT_EQ(replace(t, "FILE_NAME", name), 0);
    ASSERT_EQ(d4flush(t), 0);
    d4close(t);
    namespace os = plat::os;
    os::FileInfo before;
    ASSERT_TRUE(os::Os().Stat(name, false, &before));
    const bool plain = before.kind == os::Kind::Plain;
    const std::string bytes = plain ? rel::Read(name) : "";

    EXPECT_FALSE(PrintLabelDocument(name, 0));
    EXPECT_FALSE(Pass());
    EXPECT_EQ(LastLabelRefusal().empty(), !c.reason) << LastLabelRefusal();
    EXPECT_EQ(printer->printed, std::vector<int>{}) << "nothing may print";
    os::FileInfo after;
    ASSERT_TRUE(os::Os().Stat(name, false, &after)) << "the named thing was deleted";
    EXPECT_EQ(after.id, before.id);
    if (plain) {
      EXPECT_EQ(rel::Read(name), bytes);
    }
    EXPECT_EQ(inst->WaitingLabels(engine), 2);
    EXPECT_TRUE(rel::Exists(inst->Doc(1)));
    if (std::string(c.what) == "symbolic link to a document") {
      EXPECT_EQ(rel::Read(inst->root.string() + "/elsewhere.lbl"), rel::LabelDocument(7));
    }
  }
}

// Inside [Labels] Folders (any of them, reached by any name: through a link,
// or where Wine makes none, through "..") every label prints; a document of
// exactly 16 MB is still one.
TEST_F(LabelReliability, LabelFoldersLetTheirDocumentsPrint) {
  Fresh(3);
  std::string other = (inst->root / "elsewhere" / ".." / "docs").string();
  if (!plat::os::kWindowsNames) {
    other = (inst->root / "docslink").string();
    rel::fs::create_directory_symlink(inst->docs, other);
  }
  SetLabelFolders(*inst, " ;" + (inst->root / "elsewhere").string() + "; " + other + "/ ;");
  setup = std::make_unique<TSetup>(inst->prog);
  AppSetup = setup.get();
  EXPECT_TRUE(Pass()) << LastLabelRefusal();
  EXPECT_EQ(printer->Counts(), (std::map<int, int>{{1, 1}, {2, 1}, {3, 1}}));
  EXPECT_EQ(LabelSizeRefusal("x", kLabelDocumentMax), "");
  EXPECT_NE(LabelSizeRefusal("x", kLabelDocumentMax + 1), "");
}

}  // namespace
