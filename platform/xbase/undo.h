#pragma once
// Undo files for changes made in place. Tables are shared with programs that
// keep them open, so a pack cannot write a new file and rename it over the
// old one (their handles would keep the old file); it moves records inside
// the file. Before the first byte moves, the bytes about to be overwritten
// are saved beside the table and forced to disk; the change then runs, and
// the undo file is removed once the table is on disk. A change that fails
// half way is undone from it at once, or, when even that fails (or the
// process died), the next time the table is opened.
#include <cstdint>
#include <string>

#include "platform/os.h"

namespace xbase {

// Name of the undo file of a table file.
std::string UndoPathFor(const std::string& tablePath);

// Saves the file's first 32 bytes and every byte from `from` to its end,
// with its size, into undoPath, and forces it to disk. On failure nothing is
// left behind and XBaseError is raised (the table is untouched).
void SaveUndo(const std::string& undoPath, plat::os::File& table, const std::string& tablePath, int64_t from);

enum class UndoState { None, Incomplete, Ready };
// Whether an undo file exists and is whole (an incomplete one was cut short
// before the change it guards began, so the table is as it was).
UndoState CheckUndo(const std::string& undoPath);

// Puts back what the undo file saved (bytes, size), forces the table to disk
// and removes the undo file. An incomplete undo file is just removed. Raises
// XBaseError when the table cannot be written; the undo file stays then.
void ApplyUndo(const std::string& undoPath, plat::os::File& table, const std::string& tablePath);

// Removes the undo file once the change it guards is on disk.
void DiscardUndo(const std::string& undoPath);

}  // namespace xbase
