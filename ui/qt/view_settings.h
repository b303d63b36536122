#pragma once
// How the logs are shown, remembered in the user's configuration folder between runs. A missing or
// unreadable settings file gives the defaults.
namespace ov {

// Whether colour codes are drawn as colours and hidden in logs, captions and tree nodes. Off by default.
bool ReadColourCodes();
void WriteColourCodes(bool on);

}  // namespace ov
