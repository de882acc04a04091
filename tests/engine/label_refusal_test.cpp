// The label folders' containment check on both kinds of names.
#include <gtest/gtest.h>

#include "engine/label_refusal.h"

namespace {

TEST(LabelFolders, PathInsideFolder) {
  struct {
    const char* path;
    const char* folder;
    bool windowsNames, inside;
  } cases[] = {
      {"/srv/kavlo/labels/0001.LBL", "/srv/kavlo/labels", false, true},
      {"/srv/kavlo/labels/sub/0001.LBL", "/srv/kavlo/labels", false, true},
      {"/srv/kavlo/labels2/0001.LBL", "/srv/kavlo/labels", false, false},  // a sibling sharing the prefix
      {"/srv/kavlo/labels", "/srv/kavlo/labels", false, false},            // the folder itself
      {"/srv/kavlo/LABELS/0001.LBL", "/srv/kavlo/labels", false, false},   // letter case counts
      {"/srv/kavlo/labels\\0001.LBL", "/srv/kavlo/labels", false, false},  // a backslash is a name's
      {"/0001.LBL", "/", false, true},
      {"C:\\KAVLO\\LABELS\\0001.LBL", "C:\\KAVLO\\LABELS", true, true},
      {"C:\\Kavlo\\Labels\\Sub\\0001.lbl", "c:/kavlo/labels", true, true},
      {"C:/Kavlo/Labels/0001.lbl", "C:\\KAVLO\\LABELS\\", true, true},
      {"C:\\KAVLO\\LABELS2\\0001.LBL", "C:\\KAVLO\\LABELS", true, false},
      {"C:\\KAVLO\\LABELS", "c:\\kavlo\\labels", true, false},
      {"C:\\KAVLO\\LABELS\\", "C:\\KAVLO\\LABELS", true, false},
      {"D:\\KAVLO\\LABELS\\0001.LBL", "C:\\KAVLO\\LABELS", true, false},
      {"C:\\0001.LBL", "C:\\", true, true},
      {"D:\\0001.LBL", "C:\\", true, false},
      {"\\\\server\\share\\labels\\0001.LBL", "\\\\SERVER\\Share", true, true},
      {"C:\\\xC9TIQUETTES\\0001.LBL", "c:\\\xE9tiquettes", true, true},  // É and é in Windows-1252
      {"C:\\\x8A\\0001.LBL", "c:\\\x9A", true, true},                    // Š and š
      {"C:\\A\\0001.LBL", "c:\\\xC1", true, false},                       // Á is no A
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PathInsideFolder(c.path, c.folder, c.windowsNames), c.inside)
        << c.path << " in " << c.folder << (c.windowsNames ? " (Windows names)" : "");
  }
}

}  // namespace
