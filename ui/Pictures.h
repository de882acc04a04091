#pragma once
// The small pictures of the windows, drawn here so that no artwork is needed.
#include <QIcon>

QIcon DrawDocument();    // 16 x 16: a page with a folded corner
QIcon DrawOpenFolder();  // 16 x 16: an open folder
