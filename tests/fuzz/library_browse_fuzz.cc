// Any uri a device sends: it reaches a query only when well formed, and it can never break the
// quoting of the reply body.
#include <cstdint>
#include <cstdlib>
#include <list>
#include <sstream>
#include <string>

#include "client-core/NorvoBrowseReply.h"
#include "client-core/NorvoMediaDBManager.h"
#include "client-core/NorvoMediaItem.h"

namespace {

NorvoMediaDBManager* Library() {
  static NorvoMediaDBManager* db = [] {
    auto* m = new NorvoMediaDBManager(":memory:");
    m->Open();
    std::list<norvo::NorvoMediaItem*> items;
    for (const char* name : {"a", "b"}) {
      auto* item = new norvo::NorvoMediaItem();
      item->SetName(name);
      item->SetFolder(true);
      item->SetUriUtf8(std::string(32, name[0]));
      item->SetParentUriUtf8(norvo::kRootUri);
      items.push_back(item);
    }
    m->RebuildMediaDB(items);
    norvo::DeleteMediaItems(&items);
    return m;
  }();
  return db;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string uri(reinterpret_cast<const char*>(data), size);
  NorvoMediaDBManager* db = Library();
  std::list<norvo::NorvoMediaItem*> children = db->BrowseMediaItem(uri);
  std::list<norvo::NorvoMediaItem*> found = db->QueryMediaItemWithUri(uri);
  const bool well_formed = norvo::IsValidMediaUri(uri);
  if (!well_formed && !found.empty()) std::abort();
  if (!well_formed && !uri.empty() && !children.empty()) std::abort();

  std::ostringstream body;
  NorvoWinUtilities::GenerateJsonMsg(children, uri, body);
  const std::string text = body.str();
  const std::string head = "{'action':'browse','reply':'ok','category':'music', 'uri': '";
  const size_t end = text.find('\'', head.size());
  if (text.compare(0, head.size(), head) != 0 || end == std::string::npos) std::abort();
  const std::string echoed = text.substr(head.size(), end - head.size());
  if (echoed != (well_formed ? uri : std::string())) std::abort();
  const std::string tail = "', 'list':[";
  if (text.compare(end, tail.size(), tail) != 0) std::abort();
  norvo::DeleteMediaItems(&children);
  norvo::DeleteMediaItems(&found);
  return 0;
}
