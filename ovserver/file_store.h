#pragma once
// The one way the OV server writes a file it keeps: whole or not at all. The text goes to a new file
// beside the old one, which is written out, synced to the disk and closed before it is renamed over the
// old one, and the folder is synced after the rename, so that neither a full disk nor a crash nor a power
// cut ever leaves a short or empty file where the old one was. Every failure is reported; one before the
// rename leaves the old file as it was. The one after it (the folder cannot be synced) leaves the new file
// in place, reported all the same, since a power cut could still bring the old one back.
#include <sys/types.h>

#include <functional>
#include <string>
#include <string_view>

namespace ovs {

enum class WriteOutcome { Written, Failed, Withdrawn };

// Replaces the file at path with text, mode given to the new file. mayReplace runs after the new file is
// on the disk and right before the rename: returning false withdraws the write (the old file stays, the
// new one goes). error tells why on Failed.
WriteOutcome WriteWholeFile(const std::string& path, std::string_view text, mode_t mode, std::string& error,
                            const std::function<bool()>& mayReplace = {});

}  // namespace ovs
