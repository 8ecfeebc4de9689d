// SPDX-License-Identifier: AGPL-3.0-or-later
// The work desk's file and folder operations. All strings are CP932; results
// are non-zero for success.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "base/WinTypes.h"

// Creates the folder (and missing parents). Non-zero when it exists afterwards.
BOOL MakeFolder(const char* folder);
// Creates an empty file (and missing parent folders) unless it exists.
BOOL MakeFile(const char* path);
// The work-desk folder without a trailing separator, into a MAX_PATH buffer:
// $ORMAVIEW_WORKDESK, else key "WorkDeskFolder" of section "WorkDesk" in
// $XDG_CONFIG_HOME/ormaview/ormaview.ini (default ~/.config). 0 when neither
// names an existing folder.
// When neither names one, the folder given to SetWorkDeskFolderFallback.
BOOL GetWorkDeskFolder(char* buffer);
// The folder the viewer was started on (CP932; null or empty: none), the
// work-desk folder when no other is named.
void SetWorkDeskFolderFallback(const char* folder);
// The bound of the page store that outlives the run, in bytes: key
// "MaxMegabytes" of section "PageCache" in ormaview.ini (see GetWorkDeskFolder),
// default 512; 0 turns the store off.
unsigned long long GetPageCacheBytes();
// Every key of the section with its value. 0 when the file cannot be read; a
// missing file or section is no error of its own (the map stays empty).
BOOL GetIniKeyMap(const char* iniPath, const char* section, std::map<std::string, std::string>* out);
// The whole value of a key, however long. 0 on a read failure.
BOOL GetPrivateProfileLongString(std::string section, std::string key, std::string def, std::string* out,
                                 std::string path);
// Comma-separated decimal page IDs, spaces allowed around each. An empty text
// gives an empty list. 0 for anything else.
BOOL GetListIDFromString(const char* text, std::vector<unsigned>* out);
// A fresh private folder under $TMPDIR (default /tmp) per call, named
// "ormaview-tmp-XXXXXX" and locked while this process lives (DeleteTheFolder
// lets go of the lock).
BOOL CreateTempFolder(char* buffer);
// The full path of WorkDesk.dat in the work-desk folder.
BOOL GetWorkDeskDatPath(char* buffer);

namespace ov {
// Removes the working folders of viewers that have ended without removing their
// own (killed, crashed): only folders of this user named as CreateTempFolder
// names them whose lock no process holds. Returns how many were removed.
int SweepDeadTempFolders();
// Lets go of the lock of a working folder of this process (file-system path).
void ReleaseTempFolderLock(const std::string& fsPath);
}  // namespace ov
