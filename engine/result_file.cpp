#include "engine/result_file.h"

#include <algorithm>
#include <chrono>

#include "platform/os.h"

namespace {

// Windows refuses to replace a file that anyone holds open. The pass lets go
// of the result only just before the replacement, so a refusal means another
// program opened it in that moment (the host showing the previous result):
// the replacement is tried again for a while, then the pass fails with its
// source kept.
constexpr auto kReplaceRetryFor = std::chrono::seconds(2);
constexpr auto kReplacePause = std::chrono::milliseconds(50);

bool ReplaceResult(const std::string& from, const std::string& to) {
  if (plat::RenameReplace(from, to)) return true;
  if (!plat::os::kWindowsNames) return false;
  plat::os::Env& os = plat::os::Os();
  const auto until = os.Monotonic() + kReplaceRetryFor;
  for (;;) {
    const plat::os::Fail kind = plat::os::LastError().kind;
    if ((kind != plat::os::Fail::Denied && kind != plat::os::Fail::Busy) || os.Monotonic() >= until) return false;
    os.Sleep(kReplacePause);
    if (plat::RenameReplace(from, to)) return true;
  }
}

}  // namespace

// Writes through to the held result and keeps the length of the new content,
// so that the old content's tail can be cut off.
class TResultFile::Overwrite final : public plat::File {
 public:
  explicit Overwrite(plat::File& f) : f_(f) {}
  size_t Read(void*, size_t) override { return 0; }
  bool Write(const void* buf, size_t n) override {
    touched_ = true;
    if (!f_.Write(buf, n)) return false;
    pos_ += n;
    length_ = std::max(length_, pos_);
    return true;
  }
  bool WriteGather(const plat::Piece* pieces, size_t count) override {
    touched_ = true;
    if (!f_.WriteGather(pieces, count)) return false;
    for (size_t i = 0; i < count; ++i) pos_ += pieces[i].size;
    length_ = std::max(length_, pos_);
    return true;
  }
  bool Seek(uint64_t offset) override {
    if (!f_.Seek(offset)) return false;
    pos_ = offset;
    return true;
  }
  int64_t Size() override { return static_cast<int64_t>(length_); }
  bool Truncate(uint64_t size) override {
    touched_ = true;
    if (!f_.Truncate(size)) return false;
    length_ = size;
    return true;
  }
  bool Flush() override { return f_.Flush(); }
  bool Sync() override { return f_.Sync(); }
  bool Close() override { return f_.Flush(); }  // the caller closes the held file

  uint64_t Length() const { return length_; }
  bool Touched() const { return touched_; }

 private:
  plat::File& f_;
  uint64_t pos_ = 0, length_ = 0;
  bool touched_ = false;
};

TResultFile::~TResultFile() {
  if (begun_ && !finished_) Finish(false);
}

plat::File* TResultFile::Begin() {
  begun_ = true;
  target_ = plat::ResolvedPath(result_);
  if (target_.empty()) return nullptr;
  if (plat::LinkCount(target_) <= 1) {
    bool refuses = false;
    out_ = plat::CreateBeside(target_, &tempName_, &refuses);
    if (out_) return out_.get();
    if (!refuses) return nullptr;
  }
  inPlace_ = true;
  out_ = std::make_unique<Overwrite>(held_);
  return out_->Seek(0) ? out_.get() : nullptr;
}

bool TResultFile::Finish(bool ok) {
  if (finished_ || !begun_ || !out_) {
    finished_ = true;
    return false;
  }
  finished_ = true;
  if (inPlace_) {
    auto& in = static_cast<Overwrite&>(*out_);
    // The old content's tail goes, then everything is made durable.
    if (ok) ok = in.Truncate(in.Length()) && in.Sync();
    // Half a result could pass for a whole one with fewer shipments; an
    // empty one cannot. Untouched, the old result stays as it was.
    if (!ok && in.Touched()) {
      if (in.Truncate(0)) in.Sync();
    }
    return ok;
  }
  // The new file is durable before it replaces the result, and the
  // replacement is durable before the caller lets the source go.
  if (ok) ok = out_->Sync();
  ok = out_->Close() && ok;
  // Windows refuses to replace a file that is open, the pass's own hold
  // included: the hold ends here, with the new content complete and durable.
  if (ok && plat::os::kWindowsNames) held_.Close();
  if (ok) ok = ReplaceResult(tempName_, target_);
  if (!ok) {
    plat::DeleteFile(tempName_);
    return false;
  }
  return plat::SyncFolderOf(target_);
}
