// Small real fixtures for the library tests: temporary folders, MP3 files made by the ffmpeg
// command (cached per test process), ID3v2 tags written with TagLib.
#pragma once

#include <initializer_list>
#include <string>

#include "client-core/NorvoGlobalContext.h"
#include "tests/common/temp_dir.h"

namespace library_test {

using TempDir = norvo_test::TempDir;

// A copy of a 440 Hz sine MP3 (128 kb/s, mono, 44.1 kHz) of `seconds` ("4.9", "5.0", ...) at
// `target`. With `id3` false the file carries no tag at all.
void CopySine(const std::string& seconds, const std::string& target, bool id3 = true);

// Writes an ID3v2 tag (UTF-8 texts), with an embedded JPEG-typed cover when `cover` is not empty.
void WriteTags(const std::string& path, const std::string& title, const std::string& artist,
               const std::string& album, const std::string& cover = std::string());

void WriteFile(const std::string& path, const std::string& content);
// Appends zero bytes until the file is `size` bytes long.
void PadTo(const std::string& path, size_t size);
std::string ReadFile(const std::string& path);

// Settings with the hub's limits and the given shared folders.
NorvoGlobalSetting MakeSettings(std::initializer_list<std::string> folders = {});

std::string Md5(const std::string& text);
std::string B64(const std::string& text);

}  // namespace library_test

namespace library_test {

// The library the scan, database and tool tests share, below `root`:
//   A/song.mp3          5.0 s, tagged "It's 'one'" / "O'Brien" / "Album \"1\""
//   A/short.mp3         4.9 s: too short, still counted in A
//   A/fake.mp3          text: no audio, still counted in A
//   A/LOUD.MP3          not a song, not counted
//   A/.hidden.mp3       5.0 s, no tag at all
//   A/notes.txt
//   A/onlytext/readme.txt      a folder without songs: left out
//   A/onlyempty/empty/         listed (1 folder, 0 songs); its empty child is not
//   A/sub/b.mp3         5.0 s, tagged "Ça ira" / "Сергей" / "東京"
//   A/sub/up -> ..      leads back to A: skipped
//   A/toB -> ../B       another folder: followed
//   B/c.mp3             5.0 s
struct LibraryTree {
  std::string a;
  std::string b;
};
LibraryTree BuildLibraryTree(const std::string& root);

}  // namespace library_test
