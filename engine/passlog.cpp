// The pass log. The file is opened for each line and closed again: a log that
// was moved, deleted or rotated by someone else is picked up at the next
// line, and the window and a headless cycle can share one log (appends keep
// their lines whole).
#include "engine/passlog.h"

#include <exception>

#include "platform/file.h"
#include "platform/ini.h"
#include "platform/localtime.h"

const char* const PassOk = "ok";
const char* const PassNothing = "nothing";
const char* const PassBusy = "busy";
const char* const PassFailed = "failed";

namespace {

bool IsAbsolute(const std::string& name) {
  if (!name.empty() && (name[0] == '\\' || name[0] == '/')) return true;
  const char c = name.size() >= 2 && name[1] == ':' ? name[0] : '\0';
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

}  // namespace

// A tab or line end inside a value would break the line into fields or lines
// that are not there.
std::string LogField(const std::string& value) {
  std::string out = value;
  for (char& c : out)
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  return out;
}

std::string PassLogFileName(const std::string& iniFileName) {
  const std::string folder = plat::ExtractFileDir(iniFileName);
  const auto beside = [&](const std::string& name) {
    if (folder.empty()) return name;
    const char last = folder.back();
    return folder + (last == '\\' || last == '/' ? "" : "\\") + name;
  };
  // A value no settings file can hold tells a missing key from an empty one.
  const std::string missing(1, '\n');
  const std::string name = plat::IniReadString(iniFileName, "Log", "File", missing);
  if (name == missing) return beside("Vadoviver.log");
  if (name.empty() || IsAbsolute(name)) return name;
  return beside(name);
}

TPassLog::TPassLog(std::string fileName, int64_t limit) : fileName_(std::move(fileName)), limit_(limit) {}

std::string TPassLog::PassFields(TPassKind kind, const std::string& outcome, const std::string& message,
                                 int64_t count) {
  return std::string("pass\t") + (kind == TPassKind::Package ? "package" : "shipment") + '\t' + LogField(outcome) +
         '\t' + LogField(message) + '\t' + std::to_string(count);
}

std::string TPassLog::PrintedFields(const TLabelLine& label) {
  std::string keys;
  for (size_t i = 0; i < label.Keys.size(); ++i) {
    if (i) keys += '|';
    keys += LogField(label.Keys[i]);
  }
  return "printed\t" + std::to_string(label.Position) + '\t' + LogField(label.FileName) + '\t' +
         std::to_string(label.Shipment) + '\t' + std::to_string(label.Package) + '\t' +
         std::to_string(label.Document) + '\t' + keys;
}

void TPassLog::Pass(TPassKind kind, const std::string& outcome, const std::string& message, int64_t count) {
  bool& idle = idle_[kind == TPassKind::Package ? 0 : 1];
  const bool nothing = outcome == PassNothing;
  if (nothing && idle) return;
  idle = nothing;
  Append(PassFields(kind, outcome, message, count));
}

void TPassLog::Printed(const TLabelLine& label) { Append(PrintedFields(label)); }

void TPassLog::Append(const std::string& fields) {
  if (fileName_.empty()) return;
  try {
    const std::string line = plat::LocalTimeIso8601() + '\t' + fields + '\n';
    auto file = plat::OpenAppend(fileName_);
    bool ok = file != nullptr;
    if (ok) {
      const int64_t size = file->Size();
      if (size > 0 && size + static_cast<int64_t>(line.size()) > limit_) {
        // The full log becomes the old one (replacing the one before); a
        // rename that fails leaves the log growing rather than losing lines.
        file->Close();
        file.reset();
        plat::RenameReplace(fileName_, fileName_ + ".1");
        file = plat::OpenAppend(fileName_);
        ok = file != nullptr;
      }
    }
    // One write per line, flushed at once: a line is there whole or not at all
    // when the program dies.
    if (ok) ok = file->Write(line.data(), line.size()) && file->Flush();
    if (file) ok = file->Close() && ok;
    failing_ = !ok;
  } catch (const std::exception&) {
    failing_ = true;
  }
}
