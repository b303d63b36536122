#pragma once
// What the client keeps between runs, in the user's configuration folder
// (~/.config/Orvane/orvane-client.conf). A missing or unreadable file reads as nothing kept.
#include <QSettings>
#include <memory>
#include <vector>

#include "registry/server_tables.h"

namespace ov {

std::unique_ptr<QSettings> UserSettings();

std::vector<Endpoint> ReadRecentServers(QSettings& settings);
void WriteRecentServers(QSettings& settings, const std::vector<Endpoint>& entries);

// Whether colour codes are drawn as colours and hidden in logs, captions and tree nodes. Off by default.
bool ReadColourCodes();
void WriteColourCodes(bool on);

}  // namespace ov
