#pragma once
#include <string>

namespace ov {

std::string WSAErrorName(int error);
// errno of a failing POSIX socket call to the Winsock number that the user is shown.
int WinsockFromErrno(int err);

}  // namespace ov
