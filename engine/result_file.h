#pragma once
// The new content of a shipment pass's result file. The result already
// exists and the caller holds it open without sharing for writing; that
// open is the gate that keeps other programs out while the result changes.
//
// The content normally goes to a new file beside the result, under a name no
// file had, which replaces the result once it is complete and durable: a
// reader sees the old result or the whole new one. The new file takes the
// result's permission bits (and owner, where allowed); a result reached
// through symbolic links has the file they lead to replaced, the links stay.
// Windows refuses to replace a file that is open, so there the hold ends
// just before the replacement; a reader that opens the result in that moment
// delays it briefly, or makes the pass fail with the source kept.
//
// Where that is not possible the content is written over the result through
// the held open: in a folder that takes no new file while the result itself
// is writable, and for a result with more than one name (hard links), which a
// replacement would split. Until it is complete and durable the caller keeps
// the source, so nothing is lost either way.
#include <memory>
#include <string>

#include "platform/file.h"

class TResultFile {
 public:
  TResultFile(const std::string& resultFile, plat::File& held) : result_(resultFile), held_(held) {}
  ~TResultFile();
  TResultFile(const TResultFile&) = delete;
  TResultFile& operator=(const TResultFile&) = delete;

  // Where the new content goes, from its first byte; nullptr on failure
  // (nothing was touched then).
  plat::File* Begin();
  // With ok, makes the content written to Begin's file durable and the
  // result's; returns true only then. Without ok, or when that fails, undoes
  // what it can: the new file is removed, a result written over is emptied
  // rather than left half-written. Returns false then.
  bool Finish(bool ok);
  bool InPlace() const { return inPlace_; }

 private:
  class Overwrite;

  std::string result_;
  plat::File& held_;
  std::string target_;    // the file that gets the content, links followed
  std::string tempName_;  // the new file, when not in place
  std::unique_ptr<plat::File> out_;
  bool inPlace_ = false;
  bool begun_ = false, finished_ = false;
};
