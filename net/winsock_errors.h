#pragma once
#include <string>

namespace ov {

std::string WSAErrorName(int error);
// The number and its name, as the status line shows a socket error.
std::string ErrorText(int error);
// errno of a failing POSIX socket call to the Winsock number that the user is shown.
int WinsockFromErrno(int err);

}  // namespace ov
