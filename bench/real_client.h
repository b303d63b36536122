// The client as the program composes it, for benchmarks that run it in their own process (on the
// offscreen platform).
#pragma once

#include <cstdlib>

#include "app/client.h"
#include "app/qt/main_window.h"
#include "app/qt/qt_platform.h"
#include "app/qt/settings.h"
#include "net/qt/posix_socket_api.h"
#include "net/qt/qt_event_loop.h"

struct RealClient {
  ov::PosixSocketApi sockets;
  ov::QtEventLoop loop;
  ov::Settings settings{ov::UserSettings()};
  ov::QtFrontEnd ui{settings};
  ov::Client client{ui.PlatformWith(sockets, loop)};
  ov::QtSession session{ui, client, "orvane-client"};

  explicit RealClient(int width = 0, int height = 0) {
    if (!session.Started()) std::exit(1);
    if (width > 0) ui.Main().resize(width, height);
    ui.Main().show();
  }
};
