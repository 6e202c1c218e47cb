#include "client-core/NorvoMediaItem.h"

namespace norvo {

bool IsValidMediaUri(const std::string& uri) {
  if (uri.size() != 32) return false;
  for (char c : uri) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

void DeleteMediaItems(NorvoMediaItemList* items) {
  for (NorvoMediaItem* item : *items) delete item;
  items->clear();
}

}  // namespace norvo
