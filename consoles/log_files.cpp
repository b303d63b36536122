#include "consoles/log_files.h"

#include <algorithm>
#include <cstdio>

#include "consoles/consoles.h"
#include "core/endpoint.h"

namespace ov {

namespace {

// The part of a name that stands for one byte of the text.
std::string NamePart(unsigned char byte, bool first) {
  constexpr char kHex[] = "0123456789ABCDEF";
  if (byte < 0x20 || byte == 0x7F || byte == '/' || byte == '%' || byte == '~' || (first && byte == '.'))
    return {'%', kHex[byte >> 4], kHex[byte & 0xF]};
  if (byte >= 0x80) return {static_cast<char>(0xC0 | byte >> 6), static_cast<char>(0x80 | (byte & 0x3F))};
  return std::string(1, static_cast<char>(byte));
}

// FNV-1a: a name cut short ends in the hash of the whole text, so that titles alike in their first
// hundred bytes still get files of their own.
uint64_t Hash(std::string_view text) {
  uint64_t hash = 14695981039346656037ull;
  for (const char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  return hash;
}

}  // namespace

std::string SafeFileName(std::string_view text) {
  if (text.empty()) return "%";  // which no other text gives
  constexpr size_t kTail = 17;   // "~" and sixteen hex digits
  std::string name;
  size_t head = 0;  // the length of the name that leaves room for the tail, never half a character
  for (size_t i = 0; i < text.size(); ++i) {
    name += NamePart(static_cast<unsigned char>(text[i]), i == 0);
    if (name.size() > kMaxFileNameBytes) {
      char tail[kTail + 1];
      std::snprintf(tail, sizeof tail, "~%016llx", static_cast<unsigned long long>(Hash(text)));
      return name.substr(0, head) + tail;
    }
    if (name.size() <= kMaxFileNameBytes - kTail) head = name.size();
  }
  return name;
}

size_t LogKeeper::BatchFor(const Console& window, const Endpoint& where) {
  // A flood goes to a few windows: their batch is found without building its path again.
  auto it = recent_.find(&window);
  if (it != recent_.end() && it->second.caption == window.caption && it->second.port == where.port &&
      it->second.address == where.address)
    return it->second.batch;
  const std::string folder = root_ + "/" + SafeFileName(where.address + "_" + std::to_string(where.port)) +
                             "/" + SafeFileName(window.caption);
  const std::string file = folder + "/" + today_ + ".log";
  size_t batch = 0;
  while (batch < batches_.size() && batches_[batch].file != file) ++batch;
  if (batch == batches_.size()) batches_.push_back({folder, file, {}});
  recent_[&window] = {batch, window.caption, where.address, where.port};
  return batch;
}

void LogKeeper::Keep(const Console& window, const Endpoint& where, std::string_view bytes) {
  if (bytes.empty()) return;
  if (pending_ + bytes.size() > kMaxPendingBytes) {
    dropped_ += bytes.size();
    if (flushWanted_) flushWanted_(true);
    return;
  }
  const bool first = pending_ == 0;
  batches_[BatchFor(window, where)].bytes.append(bytes);
  const bool full = pending_ < kFlushBytes && pending_ + bytes.size() >= kFlushBytes;
  pending_ += bytes.size();
  if (flushWanted_ && (first || full)) flushWanted_(full);
}

std::vector<LogBatch> LogKeeper::TakeBatches() {
  recent_.clear();
  pending_ = 0;
  return std::exchange(batches_, {});
}

std::vector<std::string> LogWriter::Write(const std::vector<LogBatch>& batches) {
  std::vector<std::string> notes;
  if (files_.size() > kMaxFilesKnown) files_.clear();  // days and servers come and go
  if (begun_.size() > kMaxFilesKnown) begun_.clear();
  for (const LogBatch& batch : batches) {
    if (batch.bytes.empty()) continue;
    if (!files_.contains(batch.file)) {
      // ROOT/ADDRESS_PORT/TITLE/DATE.log counts for ROOT/ADDRESS_PORT/DATE.log.
      const std::string server = batch.folder.substr(0, batch.folder.rfind('/'));
      size_t& begun = begun_[server + batch.file.substr(batch.file.rfind('/'))];
      if (begun >= maxFilesPerServerDay_) {
        if (begun++ == maxFilesPerServerDay_)
          notes.push_back("Keep Logs: " + std::to_string(maxFilesPerServerDay_) + " logs begun today under " +
                          server + "; no more are begun today");
        continue;
      }
      ++begun;
    }
    File& file = files_[batch.file];
    if (file.stopped) continue;
    auto refuse = [&](const std::string& why) {
      file.stopped = true;
      notes.push_back("Keep Logs: cannot write " + batch.file + " - " + why);
    };
    if (file.size < 0) {
      if (const std::string why = disk_.MakeFolders(batch.folder); !why.empty()) {
        refuse(why);
        continue;
      }
      file.size = disk_.FileSize(batch.file);
    }
    const int64_t room = std::max<int64_t>(0, maxFileBytes_ - file.size);
    const std::string_view fits =
        std::string_view(batch.bytes)
            .substr(0, static_cast<size_t>(std::min<int64_t>(room, batch.bytes.size())));
    if (!fits.empty()) {
      if (const std::string why = disk_.Append(batch.file, fits); !why.empty()) {
        refuse(why);
        continue;
      }
      file.size += static_cast<int64_t>(fits.size());
    }
    if (fits.size() < batch.bytes.size()) {
      file.stopped = true;
      constexpr int64_t kMiB = 1024 * 1024;
      const std::string bound = maxFileBytes_ % kMiB == 0 ? std::to_string(maxFileBytes_ / kMiB) + " MiB"
                                                          : std::to_string(maxFileBytes_) + " bytes";
      notes.push_back("Keep Logs: " + batch.file + " reached " + bound + "; the rest of the day is not kept");
    }
  }
  return notes;
}

}  // namespace ov
