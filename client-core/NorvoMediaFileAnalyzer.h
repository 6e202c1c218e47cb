// Analysis of the files the folder scan meets: which become songs of the library, with what
// size, uri, path, tags and audio values.
//
// Only MP3 files are songs: the name must end in exactly ".mp3" (case-sensitive), the file must
// not exceed the configured size, FFmpeg must find an audio stream in it and it must last at least
// the configured number of whole seconds. Paths are UTF-8 throughout (the system code page on
// Linux), so the code-page and UTF-8 forms of a name are the same bytes.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "client-core/NorvoMediaItem.h"

struct NorvoGlobalSetting;

namespace NorvoWinUtilities {

// A new item for the file `name` in `folder`, or none when the file is too large. An item that
// is not valid is not a song (another extension, no audio, too short); the caller discards it
// like no item. `settings` gives the size and duration limits (the record's defaults when null).
std::unique_ptr<norvo::NorvoMediaItem> AnalyzeFile(const std::string& folder,
                                                   const std::string& name_cp,
                                                   const std::string& name_utf8,
                                                   const NorvoGlobalSetting* settings);

// Fills bit rate, sample rate, channel count and duration (whole seconds, truncated) of the
// first audio stream; false when the file is not a song.
bool RetrieveCriticalMediaInfo(norvo::NorvoMediaItem* item, const std::string& path,
                               const NorvoGlobalSetting* settings);

// One entry of a folder listing; symlinks are followed to tell folders from files.
struct FolderEntry {
  std::string name;
  bool is_dir = false;
};

// The entries of a folder in the file system's listing order ("." and ".." left out). False,
// with nothing listed, when the folder cannot be read or is empty.
bool ListFolderEntries(const std::string& path, std::vector<FolderEntry>* entries);

// Counts listed entries as CountSongsInFolder does.
void CountFolderEntries(const std::vector<FolderEntry>& entries, int* folders, int* songs);

// Direct entries of a folder: sub-folders (symlinks to folders included), and entries whose name
// ends in exactly ".mp3". Opens no file; both counts are 0 when the folder cannot be listed.
void CountSongsInFolder(const std::string& path, int* folders, int* songs);

// Whether the entry is hidden: its name begins with ".".
bool IsFileHidden(const std::string& path);

// Whether a file name has exactly the extension ".mp3" (the text from its last "." on).
bool HasMp3Extension(const std::string& name);

}  // namespace NorvoWinUtilities
