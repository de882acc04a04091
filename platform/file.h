#pragma once
// Files and paths. Every path the program handles is a Windows-style name
// (folder + "\" + name, possibly with a drive letter); NativePath translates it
// for the running platform, and every function below takes the Windows-style
// name and translates it itself.
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

namespace plat {

// Drive letters ('A'..'Z', upper case) to the folder each stands for; filled
// from the [Drives] section of the program's own settings file. A path with a
// drive letter that has no entry names nothing (NativePath returns "").
void SetDriveMap(const std::map<char, std::string>& drives);
std::map<char, std::string> GetDriveMap();
// "\" and "/" both separate folders; "C:\X" goes through the drive map.
std::string NativePath(const std::string& path);
// Folder part of a name (everything before the last separator), "" if none.
std::string ExtractFileDir(const std::string& path);

bool FileExists(const std::string& path);      // any kind of file or folder
bool IsRegularFile(const std::string& path);   // not a folder, device, FIFO or link
bool DirectoryExists(const std::string& path);
bool CreateEmptyFile(const std::string& path); // creates (or keeps) an empty file: true when it exists afterwards
bool DeleteFile(const std::string& path);
bool RenameReplace(const std::string& from, const std::string& to);  // atomic replace
// The file a name finally stands for, every symbolic link followed, as a
// native absolute path; "" when it does not exist.
std::string ResolvedPath(const std::string& path);
// Number of names (hard links) the file has; 0 when it does not exist.
unsigned long LinkCount(const std::string& path);
// Makes a rename or delete in the folder of path durable.
bool SyncFolderOf(const std::string& path);
std::string ExeFolder();                       // folder of the running executable, no trailing separator

enum class OpenMode { Read, ReadWrite, WriteOnly };

// One piece of a gathered write: bytes that stay where they are in memory.
struct Piece {
  const void* data;
  size_t size;
};

// An open file. Reads and writes are buffered (never one system call per byte).
class File {
 public:
  virtual ~File() = default;
  // Returns the number of bytes read (0 at the end or on failure).
  virtual size_t Read(void* buf, size_t n) = 0;
  virtual bool Write(const void* buf, size_t n) = 0;
  // Writes the pieces one after the other, as Write of each in turn would, in
  // large gathered system calls straight from the caller's memory.
  virtual bool WriteGather(const Piece* pieces, size_t count) = 0;
  virtual bool Seek(uint64_t offset) = 0;  // from the start
  virtual int64_t Size() = 0;              // -1 on failure
  virtual bool Truncate(uint64_t size) = 0;
  virtual bool Flush() = 0;                // buffers to the OS
  virtual bool Sync() = 0;                 // Flush, then make durable (fsync)
  // Flush, then ask the system to start writing to the disk what was written
  // since the last such call, without waiting: a later Sync has less to do.
  virtual void StartWriteBack() {}
  virtual bool Close() = 0;                // flushes; false when anything failed
};

// Opens without creating. Returns nullptr on failure.
std::unique_ptr<File> OpenFile(const std::string& path, OpenMode mode);
// Opens "without sharing": fails while another open of this program or of
// another process holds the file open for writing or locked, and keeps others
// out while it is held. Never creates the file.
std::unique_ptr<File> OpenExclusive(const std::string& path, OpenMode mode);
// Creates or truncates a file for writing.
std::unique_ptr<File> CreateFile(const std::string& path);
// Creates a new file for writing in the folder of target, under a name that
// no file had (target's name + ".vvtmp-" + random characters; an existing
// file is never opened), with target's permission bits and, where allowed,
// its owner. *name receives the new file's name. On failure returns nullptr
// and sets *folderRefuses when the folder takes no new file (no permission,
// no room) rather than failing otherwise.
std::unique_ptr<File> CreateBeside(const std::string& target, std::string* name, bool* folderRefuses);
// Opens a plain file for appending, creating it when missing: every write
// goes to the end as it stands then, also when other processes append too.
std::unique_ptr<File> OpenAppend(const std::string& path);

}  // namespace plat
