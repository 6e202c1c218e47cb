// The item record, the uri check that guards every query, and the browse reply body.
#include <gtest/gtest.h>

#include <sstream>

#include "client-core/NorvoBrowseReply.h"
#include "client-core/NorvoMediaItem.h"

namespace {

using norvo::NorvoMediaItem;

TEST(MediaItemTest, NewItemIsAnInvalidFileWithNothingSet) {
  NorvoMediaItem item;
  EXPECT_EQ(item.Type(), "file");
  EXPECT_FALSE(item.IsValid());
  EXPECT_FALSE(item.IsFolder());
  EXPECT_EQ(item.BitRate() | item.SampleRate() | item.Duration() | item.Size() | item.NChannels() |
                item.NumSongs() | item.NumDirs(),
            0);
  EXPECT_TRUE(item.Name().empty() && item.Uri().empty() && item.Path().empty());
  EXPECT_TRUE(item.Artist().isEmpty() && item.Album().isEmpty() && item.Title().isEmpty());
  item.SetFolder(true);
  EXPECT_EQ(item.Type(), "dir");
}

TEST(MediaItemTest, OnlyThirtyTwoLowerCaseHexDigitsAreUris) {
  struct Case {
    const char* uri;
    bool valid;
  } cases[] = {
      {"d41d8cd98f00b204e9800998ecf8427e", true},
      {"0123456789abcdef0123456789abcdef", true},
      {"", false},
      {"d41d8cd98f00b204e9800998ecf8427", false},    // 31 digits
      {"d41d8cd98f00b204e9800998ecf8427e0", false},  // 33 digits
      {"D41D8CD98F00B204E9800998ECF8427E", false},   // upper case
      {"d41d8cd98f00b204e9800998ecf8427'", false},
      {"' OR 1=1 --                     ", false},
      {"g41d8cd98f00b204e9800998ecf8427e", false},
  };
  for (const Case& c : cases) EXPECT_EQ(norvo::IsValidMediaUri(c.uri), c.valid) << c.uri;
  // A NUL inside the text must not end the check early.
  EXPECT_FALSE(norvo::IsValidMediaUri(std::string("d41d8cd98f00b204\0e9800998ecf8427e", 33)));
}

NorvoMediaItem* Folder(const std::string& name, int dirs, int songs, const std::string& uri) {
  auto* item = new NorvoMediaItem();
  item->SetFolder(true);
  item->SetName(name);
  item->SetNumDirs(dirs);
  item->SetNumSongs(songs);
  item->SetUriUtf8(uri);
  return item;
}

NorvoMediaItem* Song(const std::string& name, const std::string& artist, const std::string& uri) {
  auto* item = new NorvoMediaItem();
  item->SetName(name);
  item->SetBitRate(128000);
  item->SetSampleRate(44100);
  item->SetArtistB64(artist);
  item->SetDuration(215);
  item->SetSize(4194304);
  item->SetUriUtf8(uri);
  return item;
}

TEST(BrowseReplyTest, BodyIsExactlyTheDeviceFormat) {
  const std::string u0 = "00000000000000000000000000000000";
  const std::string u1 = "11111111111111111111111111111111";
  const std::string u2 = "22222222222222222222222222222222";
  struct Case {
    std::list<NorvoMediaItem*> items;
    std::string uri;
    std::string body;
  } cases[] = {
      {{Folder("QjE=", 0, 3, u1), Song("QjI=", "QjM=", u2)},
       u0,
       "{'action':'browse','reply':'ok','category':'music', 'uri': '" + u0 +
           "', 'list':[{'name':'QjE=','type':'dir','num-dirs':0,'num-songs':3,'uri':'" + u1 +
           "'},{'name':'QjI=','bitrate':128000,'samplerate':44100,'artist':'QjM=','album':'',"
           "'title':'','length':215,'size':4194304,'uri':'" +
           u2 + "'}]}"},
      {{Song("QjI=", "", u2)},
       u1,
       "{'action':'browse','reply':'ok','category':'music', 'uri': '" + u1 +
           "', 'list':[{'name':'QjI=','bitrate':128000,'samplerate':44100,'artist':'','album':'',"
           "'title':'','length':215,'size':4194304,'uri':'" +
           u2 + "'}]}"},
      {{},
       u1,
       "{'action':'browse','reply':'ok','category':'music', 'uri': '" + u1 + "', 'list':[]}"},
      // A uri that could break the quoting is never echoed.
      {{},
       "x', 'reply':'no",
       "{'action':'browse','reply':'ok','category':'music', 'uri': '', 'list':[]}"},
  };
  for (Case& c : cases) {
    std::ostringstream out;
    NorvoWinUtilities::GenerateJsonMsg(c.items, c.uri, out);
    EXPECT_EQ(out.str(), c.body);
    norvo::DeleteMediaItems(&c.items);
  }
}

}  // namespace
