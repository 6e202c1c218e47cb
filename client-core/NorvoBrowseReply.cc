#include "client-core/NorvoBrowseReply.h"

#include "messaging/base/logging.h"

namespace NorvoWinUtilities {

void GenerateJsonMsg(const std::list<norvo::NorvoMediaItem*>& items, const std::string& uri,
                     std::ostream& out) {
  LOG(LS_INFO) << "NorvoWinUtilities::GenerateJsonMsg - Found " << items.size()
               << " items that can be shared.";
  out << "{'action':'browse','reply':'ok','category':'music', 'uri': '"
      << (norvo::IsValidMediaUri(uri) ? uri : std::string()) << "', 'list':[";
  bool first = true;
  for (const norvo::NorvoMediaItem* item : items) {
    if (!first) out << ',';
    first = false;
    if (item->IsFolder()) {
      out << "{'name':'" << item->Name() << "','type':'dir','num-dirs':" << item->NumDirs()
          << ",'num-songs':" << item->NumSongs() << ",'uri':'" << item->Uri() << "'}";
    } else {
      out << "{'name':'" << item->Name() << "','bitrate':" << item->BitRate()
          << ",'samplerate':" << item->SampleRate() << ",'artist':'" << item->ArtistB64()
          << "','album':'" << item->AlbumB64() << "','title':'" << item->TitleB64()
          << "','length':" << item->Duration() << ",'size':" << item->Size() << ",'uri':'"
          << item->Uri() << "'}";
    }
  }
  out << "]}";
}

}  // namespace NorvoWinUtilities
