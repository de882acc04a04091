#pragma once
// The program's one seam to the operating system. Everything the program takes
// from the OS goes through an Env: files and their byte-range locks, the
// read-only mapping of a shipment source, renames, deletes, folder syncs,
// folder listings, the executable's folder, the clock, sleeping and the stop
// signals. One implementation per OS (os_posix.cpp, os_win32.cpp); no other
// product file includes an OS header. Tests install wrappers of the real Env
// (fault injection, power-loss simulation) with InstallOs, so the product code
// carries no test hooks.
//
// Paths here are native names, as NativePath (platform/file.h) gives them.
// A call that fails returns false or nullptr and leaves the reason in this
// thread's LastError(); nothing else is changed by a failed call.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace plat::os {

#ifdef _WIN32
// Drive letters are drives; "\" separates folders.
inline constexpr bool kWindowsNames = true;
inline constexpr char kSeparator = '\\';
#else
inline constexpr bool kWindowsNames = false;
inline constexpr char kSeparator = '/';
#endif

// What a failed call reports: the kind callers act on, and the system's own
// text for messages.
enum class Fail {
  None,
  NotFound,   // no such file or folder (or a part of the path is no folder)
  Exists,     // a new file was asked for and the name is taken
  Denied,     // no permission
  ReadOnly,   // the file system takes no writes
  NoSpace,    // disk or quota full
  Busy,       // another open holds a conflicting lock, or the file "without sharing"
  NotPlain,   // a folder, device, FIFO or link where a plain file was asked for
  NoLocks,    // the file system keeps no byte-range locks
  Other,
};
struct Error {
  Fail kind = Fail::None;
  std::string text;  // e.g. "No space left on device"
};
// The reason of this thread's last failed call.
const Error& LastError();
// Sets this thread's last error: for implementations and wrappers of the seam.
void SetLastError(Fail kind, std::string text);

// One piece of a gathered write: bytes that stay where they are in memory.
struct Piece {
  const void* data;
  size_t size;
};

enum class Kind { Plain, Folder, Other };  // Other: device, FIFO, socket, link not followed

// What is known of a file. Two infos with equal device and id are the same
// file (as long as both stay open or unchanged).
struct FileInfo {
  Kind kind = Kind::Other;
  uint64_t size = 0;
  uint64_t links = 0;  // names (hard links) the file has
  uint64_t device = 0;
  uint64_t id = 0;
};

enum class Access { Read, ReadWrite, Write };
enum class Disposition {
  OpenExisting,      // fails with NotFound when missing
  CreateOrOpen,      // creates when missing, keeps the content otherwise
  CreateOrTruncate,  // creates when missing, empties it otherwise
  CreateNew,         // fails with Exists when the name is taken (never opens an existing file)
};

struct OpenRequest {
  Access access = Access::Read;
  Disposition disposition = Disposition::OpenExisting;
  // "Without sharing": fails with Busy while another open (of this process or
  // another) holds the file open for writing or locked, and keeps others from
  // opening it while held. Only a plain file can be held so (NotPlain).
  bool exclusive = false;
  bool plainOnly = false;  // refuse anything but a plain file (checked on what was opened)
  bool noFollow = false;   // refuse a symbolic link as the last part of the name
  bool append = false;     // every Write goes to the end as it stands then
  // Opening never waits (a FIFO or device nobody serves fails at once); reads
  // and writes on the opened file then wait as usual.
};

// Byte-range lock kinds. Locks belong to the open file (not the process): two
// opens of one file in one process conflict as two processes would.
enum class LockKind { Shared, Exclusive };

// The lock bytes of the xBase engine the host uses, on the .dbf and .cdx:
// bytes count down from kLockTop (record n at kLockTop - n); the whole-table
// lock covers kTableLockStart .. kLockTop, so it conflicts with every record
// lock and with other whole-table locks; an index's writer holds kLockTop of
// the .cdx for as long as it rewrites pages.
inline constexpr uint64_t kLockTop = 0x7FFFFFFE;
inline constexpr uint64_t kTableLockStart = 0x40000000;
inline constexpr uint64_t kTableLockLength = kLockTop - kTableLockStart + 1;

class Mapping;

// An open file. Not shared between threads without the caller's own locking
// (positional reads may run on several threads at once).
class File {
 public:
  virtual ~File() = default;  // closes; an error then goes unreported (call Close to see it)

  // Reads up to n bytes at offset; *got receives how many (fewer only at the
  // end of the file, 0 there). Retries interrupted calls itself.
  virtual bool ReadAt(uint64_t offset, void* buf, size_t n, size_t* got) = 0;
  // Writes all n bytes at offset, or fails.
  virtual bool WriteAt(uint64_t offset, const void* buf, size_t n) = 0;
  // Reads at the current position (the only way for a FIFO or device).
  virtual bool Read(void* buf, size_t n, size_t* got) = 0;
  // Writes all bytes at the current position (at the end when opened to
  // append), or fails.
  virtual bool Write(const void* buf, size_t n) = 0;
  // Writes the pieces one after the other at the current position, in large
  // gathered system calls straight from the caller's memory.
  virtual bool WriteGather(const Piece* pieces, size_t count) = 0;
  virtual bool Seek(uint64_t offset) = 0;  // from the start
  virtual bool Size(uint64_t* size) = 0;
  virtual bool Truncate(uint64_t size) = 0;
  // Makes the file's bytes durable (not its name: see Env::SyncFolder).
  virtual bool Sync() = 0;
  // Asks the system to start writing [offset, offset + length) to the disk
  // now, without waiting, so that a later Sync finds less to do. A hint only:
  // it makes nothing durable, and where there is no such call it does nothing.
  virtual void StartWriteBack(uint64_t offset, uint64_t length) {
    (void)offset;
    (void)length;
  }
  virtual bool Info(FileInfo* info) = 0;
  // Closes; false when the system reported an error (delayed write errors).
  // Every other call fails afterwards.
  virtual bool Close() = 0;

  // Takes the lock on [start, start + length) without waiting: false with
  // Busy when another open holds a conflicting one, NoLocks where the file
  // system keeps none.
  virtual bool TryLock(uint64_t start, uint64_t length, LockKind kind) = 0;
  virtual bool Unlock(uint64_t start, uint64_t length) = 0;
  // Whether another open holds a lock on any byte of the range that would
  // keep an exclusive lock out, without taking one (also on a file opened to
  // read). *held is false where the file system keeps no locks.
  virtual bool OthersHold(uint64_t start, uint64_t length, bool* held) = 0;

  // Gives this (new) file the permission bits and, where allowed, the owner of
  // the file at path; where the OS has no such bits it does nothing.
  virtual bool TakeAccessOf(const std::string& path) = 0;

  // Maps this plain file, opened to read, read-only when it is still as
  // expected describes (same device, id and size); nullptr when it cannot be
  // mapped so (the caller reads it instead). Unlike Env::MapReadOnly it opens
  // nothing again, so it also works on a file held without sharing. The
  // mapping keeps its own hold and may outlive this File.
  virtual std::unique_ptr<Mapping> MapReadOnly(const FileInfo& expected) = 0;
};

// A read-only mapping of a whole plain file that another program may shorten
// while it is mapped: pages past the new end read as zeros instead of ending
// the process, and Damaged() says so, so whatever was made from the mapping is
// thrown away. While the mapping lives, other programs' opens for writing are
// held off as far as the OS allows (a read lease on POSIX; the file's sharing
// on Windows).
class Mapping {
 public:
  virtual ~Mapping() = default;
  virtual const unsigned char* Data() const = 0;
  virtual size_t Size() const = 0;
  virtual bool Damaged() const = 0;
  // Brings every page in at once.
  virtual void Populate() = 0;
  // Gives back the pages wholly inside [from, to) (a later access brings them
  // in again).
  virtual void Release(size_t from, size_t to) = 0;
};

// Broken-down local time (std::tm's meaning of each field).
using LocalTm = std::tm;

class Env {
 public:
  virtual ~Env() = default;

  // nullptr on failure.
  virtual std::unique_ptr<File> Open(const std::string& path, const OpenRequest& how) = 0;
  // Maps the plain file at path read-only when it is still the file described
  // by expected (same device, id and size); nullptr when it cannot be mapped
  // so (the caller reads the file instead).
  virtual std::unique_ptr<Mapping> MapReadOnly(const std::string& path, const FileInfo& expected) = 0;

  // false with NotFound when nothing has that name. followLinks false
  // describes a symbolic link itself (as Kind::Other).
  virtual bool Stat(const std::string& path, bool followLinks, FileInfo* info) = 0;
  // Renames from to to, replacing to atomically.
  virtual bool RenameReplace(const std::string& from, const std::string& to) = 0;
  virtual bool Remove(const std::string& path) = 0;
  // Makes creations, renames and removals in the folder durable. true where
  // the OS gives no way to (the rename itself is then durable or not).
  virtual bool SyncFolder(const std::string& folder) = 0;
  // The names in a folder, without "." and "..".
  virtual bool ListFolder(const std::string& folder, std::vector<std::string>* names) = 0;
  // The file a name finally stands for, every link followed, as an absolute
  // native name; "" when it does not exist.
  virtual std::string Resolve(const std::string& path) = 0;
  // Folder of the running executable, no trailing separator.
  virtual std::string ExeFolder() = 0;
  // The device a port "LPTn" stands for when the settings name none.
  virtual std::string DefaultPortDevice(int n) = 0;

  virtual std::chrono::system_clock::time_point Now() = 0;
  virtual std::chrono::steady_clock::time_point Monotonic() = 0;
  virtual void Sleep(std::chrono::milliseconds duration) = 0;
  // false when the time cannot be shown in the local zone.
  virtual bool LocalTime(std::time_t t, LocalTm* out) = 0;
  // Interrupt and termination requests (Ctrl+C, SIGINT, SIGTERM, a console
  // closing) call onStop instead of ending the process. onStop must be safe
  // in a signal handler.
  virtual void InstallStopHandler(void (*onStop)()) = 0;
};

// The Env the program uses: the OS's own unless a test installed another.
Env& Os();
// The OS's own Env (the one wrappers wrap).
Env& RealOs();
// Installs env for every later call of Os(); nullptr puts the OS's own back.
// For tests: install before the operation, not while other threads use Os().
void InstallOs(Env* env);

// Name of name inside folder, with the native separator.
std::string JoinPath(const std::string& folder, const std::string& name);
// Folder part of a native name ("." when it has none).
std::string FolderOf(const std::string& path);

}  // namespace plat::os
