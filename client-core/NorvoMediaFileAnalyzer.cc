#include "client-core/NorvoMediaFileAnalyzer.h"

#include <sys/stat.h>

#include <cstdint>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
}

#include <taglib/audioproperties.h>
#include <taglib/fileref.h>
#include <taglib/tag.h>

#include "client-core/NorvoGlobalContext.h"
#include "messaging/base/base64.h"
#include "messaging/base/fileutils.h"
#include "messaging/base/logging.h"
#include "messaging/base/md5.h"

using norvo::NorvoMediaItem;

namespace NorvoWinUtilities {

namespace {

int MaxSizeBytes(const NorvoGlobalSetting* settings) {
  return settings != nullptr ? settings->iMediaStreamFileMaxSizeBytes
                             : NORVO_MAX_MUSIC_FILE_SIZE_MB * 1024 * 1024;
}

int MinDurationSeconds(const NorvoGlobalSetting* settings) {
  return settings != nullptr ? settings->iMediaStreamFileMinDuration : NORVO_MIN_MUSIC_DURATION_SEC;
}

int32_t ClampToInt32(int64_t v) {
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

struct FormatContextCloser {
  void operator()(AVFormatContext* ctx) const { avformat_close_input(&ctx); }
};

}  // namespace

bool HasMp3Extension(const std::string& name) {
  const size_t dot = name.rfind('.');
  return dot != std::string::npos && name.compare(dot, std::string::npos, ".mp3") == 0;
}

bool IsFileHidden(const std::string& path) {
  const size_t slash = path.rfind('/');
  const size_t start = slash == std::string::npos ? 0 : slash + 1;
  return start < path.size() && path[start] == '.';
}

bool RetrieveCriticalMediaInfo(NorvoMediaItem* item, const std::string& path,
                               const NorvoGlobalSetting* settings) {
  LOG(LS_VERBOSE) << "NorvoWinUtilities::RetrieveCriticalMediaInfo:File path: " << path;
  AVFormatContext* raw = nullptr;
  if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) {
    LOG(LS_WARNING) << "NorvoWinUtilities::RetrieveCriticalMediaInfo - Cannot open this file.";
    return false;
  }
  std::unique_ptr<AVFormatContext, FormatContextCloser> ctx(raw);
  if (avformat_find_stream_info(ctx.get(), nullptr) < 0) {
    LOG(LS_WARNING) << "NorvoWinUtilities::RetrieveCriticalMediaInfo - Couldn't find stream "
                       "information.";
    return false;
  }
  if (talk_base::LogMessage::Loggable(talk_base::LS_VERBOSE)) {
    LOG(LS_VERBOSE) << "NorvoWinUtilities::RetrieveCriticalMediaInfo - ===================== "
                       "Dump Media File LS_VERBOSE Start =============================";
    av_dump_format(ctx.get(), 0, path.c_str(), 0);
    LOG(LS_VERBOSE) << "NorvoWinUtilities::RetrieveCriticalMediaInfo - ===================== "
                       "Dump Media File LS_VERBOSE End =============================";
  }
  const AVStream* audio = nullptr;
  for (unsigned i = 0; i < ctx->nb_streams; ++i) {
    if (ctx->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
      audio = ctx->streams[i];
      break;
    }
  }
  if (audio == nullptr) {
    LOG(LS_WARNING) << "NorvoWinUtilities::RetrieveCriticalMediaInfo - Didn't find a audio "
                       "stream.";
    return false;
  }
  const AVCodecParameters* par = audio->codecpar;
  // An unknown container duration counts as none at all: the file is too short to stream.
  const int64_t duration = ctx->duration > 0 ? ctx->duration / AV_TIME_BASE : 0;
  item->SetSampleRate(par->sample_rate);
  item->SetBitRate(ClampToInt32(par->bit_rate));
  item->SetNChannels(par->ch_layout.nb_channels);
  item->SetDuration(ClampToInt32(duration));
  LOG(LS_VERBOSE) << "NorvoWinUtilities::RetrieveCriticalMediaInfo - Sample rate = "
                  << item->SampleRate() << ", bitrate = " << item->BitRate()
                  << ", channels = " << item->NChannels() << ", duration = " << item->Duration()
                  << " seconds";
  const int min_duration = MinDurationSeconds(settings);
  if (item->Duration() < min_duration) {
    LOG(LS_INFO) << "NorvoWinUtilities::RetrieveCriticalMediaInfo - Duration is too short, will "
                    "be filtered away, min duration: "
                 << min_duration;
    return false;
  }
  return true;
}

std::unique_ptr<NorvoMediaItem> AnalyzeFile(const std::string& folder, const std::string& name_cp,
                                            const std::string& name_utf8,
                                            const NorvoGlobalSetting* settings) {
  auto item = std::make_unique<NorvoMediaItem>();
  // Joined without normalisation: the uri is the digest of exactly this text.
  const std::string full_path = folder + "/" + name_utf8;
  const std::string full_path_cp = folder + "/" + name_cp;

  // Only regular files are opened: a FIFO or a device named .mp3 would block the scan or feed it
  // without end.
  struct stat st;
  const bool regular = stat(full_path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  size_t size = 0;
  if (regular) size = static_cast<size_t>(st.st_size);
  const int max_size = MaxSizeBytes(settings);
  if (size > static_cast<size_t>(max_size < 0 ? 0 : max_size)) {
    LOG(LS_INFO) << "NorvoWinUtilities::AnalyzeFile - File size exceeded the limitation: "
                 << max_size;
    return nullptr;
  }
  item->SetSize(static_cast<int32_t>(size));
  item->SetName(name_utf8);
  if (!HasMp3Extension(name_utf8)) return item;
  if (!regular) {
    LOG(LS_INFO) << "NorvoWinUtilities::AnalyzeFile - not a regular file, this item is invalid "
                 << full_path;
    return item;
  }

  if (!RetrieveCriticalMediaInfo(item.get(), full_path_cp, settings)) {
    item->SetValid(false);
    LOG(LS_INFO) << "NorvoWinUtilities::AnalyzeFile:RetrieveCriticalMediaInfo returned false, "
                    "this item is invalid "
                 << full_path;
    return item;
  }
  item->SetUriUtf8(talk_base::MD5::Hex(full_path));
  item->SetPath(talk_base::Base64::Encode(full_path));

  // The tags only; the audio values are FFmpeg's. TagLib's own audio properties are read (and
  // logged) only when they would be logged.
  const bool verbose = talk_base::LogMessage::Loggable(talk_base::LS_VERBOSE);
  TagLib::FileRef ref(full_path_cp.c_str(), verbose, TagLib::AudioProperties::Average);
  if (!ref.isNull() && ref.tag() != nullptr) {
    const TagLib::Tag* tag = ref.tag();
    item->SetTitle(tag->title());
    item->SetArtist(tag->artist());
    item->SetAlbum(tag->album());
  }
  if (verbose && !ref.isNull() && ref.audioProperties() != nullptr) {
    const TagLib::AudioProperties* p = ref.audioProperties();
    LOG(LS_VERBOSE) << "NorvoWinUtilities::AnalyzeFile - TagLib: length " << p->lengthInSeconds()
                    << " s, bitrate " << p->bitrate() << " kb/s, sample rate " << p->sampleRate()
                    << ", channels " << p->channels();
  }
  item->SetValid(true);
  return item;
}

bool ListFolderEntries(const std::string& path, std::vector<FolderEntry>* entries) {
  entries->clear();
  talk_base::DirectoryIterator it;
  if (!it.Iterate(path)) return false;
  const std::string prefix = path + "/";
  do {
    FolderEntry entry;
    entry.name = it.Name();
    entry.is_dir = it.IsDirectory();
    if (it.IsSymlink()) {
      struct stat st;
      entry.is_dir = stat((prefix + entry.name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }
    entries->push_back(std::move(entry));
  } while (it.Next());
  return true;
}

void CountFolderEntries(const std::vector<FolderEntry>& entries, int* folders, int* songs) {
  *folders = 0;
  *songs = 0;
  for (const FolderEntry& entry : entries) {
    if (entry.is_dir) {
      ++*folders;
    } else if (HasMp3Extension(entry.name)) {
      ++*songs;
    } else {
      LOG(LS_VERBOSE) << "NorvoWinUtilities::CountSongsInFolder - This is not a valid mp3 file: "
                      << entry.name;
    }
  }
  LOG(LS_VERBOSE) << "NorvoWinUtilities::CountSongsInFolder, result = dir " << *folders << " file "
                  << *songs;
}

void CountSongsInFolder(const std::string& path, int* folders, int* songs) {
  std::vector<FolderEntry> entries;
  if (!ListFolderEntries(path, &entries)) {
    LOG(LS_INFO) << "NorvoWinUtilities::CountSongsInFolder - Cannot iterate this folder.";
  }
  CountFolderEntries(entries, folders, songs);
}

}  // namespace NorvoWinUtilities
