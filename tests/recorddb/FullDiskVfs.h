#pragma once

// An SQLite file layer over the system's that can make every write fail
// as on a full disk (SQLITE_FULL), for the connections opened after
// install(). Reads, locks and syncs go through unchanged.
namespace FullDiskVfs {

// Makes it SQLite's default; once per process.
void install();
void setFull(bool full);

} // namespace FullDiskVfs
