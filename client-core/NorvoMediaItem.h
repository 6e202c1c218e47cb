// The one record of the media library: a shared folder, a sub-folder or a song.
//
// Items are plain heap objects that travel in std::list<norvo::NorvoMediaItem*>; whoever
// receives such a list owns the list and the items in it (DeleteMediaItems releases them).
// An item is identified by its uri, the MD5 of its full UTF-8 path as 32 lower-case hex digits;
// the children of a folder are the items whose parent uri is the folder's uri.
#pragma once

#include <cstdint>
#include <list>
#include <string>

#include <taglib/tstring.h>

namespace norvo {

// The uri of the invisible root above the shared folders: the MD5 of the empty text.
inline constexpr const char kRootUri[] = "d41d8cd98f00b204e9800998ecf8427e";

// True for exactly 32 lower-case hexadecimal digits: the only uri that ever reaches a query.
bool IsValidMediaUri(const std::string& uri);

class NorvoMediaItem {
 public:
  NorvoMediaItem() = default;

  int32_t BitRate() const { return iBitRate; }
  void SetBitRate(int32_t v) { iBitRate = v; }
  int32_t SampleRate() const { return iSampleRate; }
  void SetSampleRate(int32_t v) { iSampleRate = v; }
  int32_t Duration() const { return iDuration; }
  void SetDuration(int32_t v) { iDuration = v; }
  int32_t Size() const { return iSize; }
  void SetSize(int32_t v) { iSize = v; }
  int32_t NChannels() const { return iNChannels; }
  void SetNChannels(int32_t v) { iNChannels = v; }
  int32_t NumSongs() const { return iNumSongs; }
  void SetNumSongs(int32_t v) { iNumSongs = v; }
  int32_t NumDirs() const { return iNumDirs; }
  void SetNumDirs(int32_t v) { iNumDirs = v; }

  bool IsValid() const { return bValid; }
  void SetValid(bool v) { bValid = v; }
  bool IsFolder() const { return bFolder; }
  void SetFolder(bool v) { bFolder = v; }

  // Built by the scan: the UTF-8 name. Rebuilt from a row: the Base64 text as stored.
  std::string Name() const { return name_; }
  void SetName(const std::string& v) { name_ = v; }
  std::string Uri() const { return uri_; }
  void SetUriUtf8(const std::string& v) { uri_ = v; }
  std::string ParentUri() const { return parent_uri_; }
  void SetParentUriUtf8(const std::string& v) { parent_uri_ = v; }
  // Base64 of the full UTF-8 path, in every life stage.
  std::string Path() const { return path_; }
  void SetPath(const std::string& v) { path_ = v; }

  // Tag texts as the scan read them; null for items rebuilt from rows.
  TagLib::String Artist() const { return artist_; }
  void SetArtist(const TagLib::String& v) { artist_ = v; }
  TagLib::String Album() const { return album_; }
  void SetAlbum(const TagLib::String& v) { album_ = v; }
  TagLib::String Title() const { return title_; }
  void SetTitle(const TagLib::String& v) { title_ = v; }

  // Base64 of the UTF-8 tags, as rows carry them.
  std::string ArtistB64() const { return artist_b64_; }
  void SetArtistB64(const std::string& v) { artist_b64_ = v; }
  std::string AlbumB64() const { return album_b64_; }
  void SetAlbumB64(const std::string& v) { album_b64_ = v; }
  std::string TitleB64() const { return title_b64_; }
  void SetTitleB64(const std::string& v) { title_b64_ = v; }

  // "dir" for folders, "file" otherwise; stored in the database's type column.
  std::string Type() const { return bFolder ? "dir" : "file"; }

 private:
  int32_t iBitRate = 0;
  int32_t iSampleRate = 0;
  int32_t iDuration = 0;
  int32_t iSize = 0;
  int32_t iNChannels = 0;
  int32_t iNumSongs = 0;
  int32_t iNumDirs = 0;
  bool bValid = false;
  bool bFolder = false;
  std::string name_;
  std::string uri_;
  std::string parent_uri_;
  std::string path_;
  TagLib::String artist_;
  TagLib::String album_;
  TagLib::String title_;
  std::string artist_b64_;
  std::string album_b64_;
  std::string title_b64_;
};

using NorvoMediaItemList = std::list<NorvoMediaItem*>;

// Deletes every item of the list and empties it.
void DeleteMediaItems(NorvoMediaItemList* items);

}  // namespace norvo
