#pragma once
// The table-access calls through which every part of the program reaches an
// xBase table. Handles are plain integers; 0 is never a valid handle. Every d4
// call returns 0 for success and non-zero for failure or "no record"; a call on
// an invalid handle fails. Nothing above setup/ sees the engine's classes.
#include <cstdint>
#include <string>
#include <vector>

// Engine
int OpenData();
void CloseData(int engine);

// Folder as callers store it: trailing separators removed, a root kept ("C:\", "/").
std::string SafeDir(const std::string& folder);

// Opens folder + "\" + table name (no extension); the .dbf/.cdx files are found
// regardless of letter case. tag names the order ("" or none: record order).
// Returns 0 when the table cannot be opened (see LastErrorText).
int mOpen(int engine, const std::string& path, const std::string& tag);
// The same for reading only: nothing of the table's files is ever written
// (a table left half way by an interrupted remove is refused, not repaired).
int mOpenReadOnly(int engine, const std::string& path, const std::string& tag);

// Field of the current record as text, without pad blanks ("" on failure).
std::string fetch(int table, const std::string& field);
// Read all in one call: every record in the order of the table's tag (record
// order without one), records marked deleted left out, exactly as d4top and
// d4skip(1) would give them. rows receives the named fields of each record
// as fetch gives them, fields.size() texts a record, record after record;
// the files are read in large blocks. 0 when the whole table was read (rows
// is empty otherwise); afterwards no record is current.
int d4readAll(int table, const std::vector<std::string>& fields, std::vector<std::string>& rows);
// Field as an integer (0 on failure).
int32_t ifetch(int table, const std::string& field);
// Stores text into the current record (padded or cut to the field; numbers right-aligned).
int replace(int table, const std::string& field, const std::string& text);

int d4top(int table);
int d4bottom(int table);
int d4skip(int table, int n);
int d4go(int table, int32_t recno);
int32_t d4recNo(int table);
int d4deleted(int table);  // 1 when the current record is marked deleted
int d4seek(int table, const std::string& key);
int d4seekDouble(int table, double key);
int d4seekNext(int table, const std::string& key);
int d4seekNextDouble(int table, double key);
int d4lockFile(int table);
int d4appendBlank(int table);
int d4delete(int table);
int d4pack(int table);
int d4flush(int table);
int d4unlock(int table);
int d4close(int table);
int d4zap(int table, int32_t first, int32_t last);
// Removes the given records and every record marked deleted in one step; on
// failure none of them is gone (marking several records with d4delete and
// then packing cannot promise that: a failure between two marks leaves some).
int d4removeRecords(int table, const std::vector<int32_t>& recnos);
int32_t d4recCountDo(int table);

// Index and tags
struct TAG4INFO {
  std::string name;        // an entry whose name and expression are empty ends a list
  std::string expression;
  std::string filter;
  int unique = 0;
  int descending = 0;
};
int d4index(int table, const std::string& name);            // index handle, 0 if none
int i4tagAdd(int index, const std::vector<TAG4INFO>& tags); // 0 = every tag added (existing tags are kept)
int d4tag(int table, const std::string& name);              // tag handle, 0 if not found
int d4tagSelectP(int table, int tag);                       // 0 = selected; tag 0 selects record order

// Creating a table (the program's own zone tables, tests, the demo generator).
struct FIELD4INFO {
  std::string name;
  char type = 'C';  // C N F D L I B Y T M
  int len = 0;
  int dec = 0;
};
// Creates folder + "\" + name with lower-case .dbf (and .cdx when tags are
// given), version byte 0x03, and opens it. Fails when the table exists.
int d4create(int engine, const std::string& path, const std::vector<FIELD4INFO>& fields,
             const std::vector<TAG4INFO>& tags);
// True when a table of that name exists (letter case of the files ignored).
bool d4exists(const std::string& path);

// Field list of an open table (for dumps).
int d4numFields(int table);
std::string d4fieldName(int table, int index);  // 1-based

// Text of the last error of the calling thread, for messages and logs.
std::string LastErrorText();

// The engine handle of the running program: set by OpenData, cleared by
// CloseData. Parts that open tables on their own (provinces, zones, labels) use it.
extern int AppEngine;
