// The client as the program composes it, for benchmarks that run it in their own process (on the
// offscreen platform).
#pragma once

#include <cstdlib>

#include "net/qt/posix_socket_api.h"
#include "net/qt/qt_event_loop.h"
#include "app/client.h"
#include "app/qt/main_window.h"
#include "app/qt/qt_platform.h"

struct RealClient {
  ov::PosixSocketApi sockets;
  ov::QtEventLoop loop;
  ov::QtFrontEnd ui;
  ov::Client client{ui.PlatformWith(sockets, loop)};

  explicit RealClient(int width = 0, int height = 0) {
    if (!ui.Start(client, "orvane-client")) std::exit(1);
    if (width > 0) ui.fMain->resize(width, height);
    ui.fMain->show();
  }
  ~RealClient() { ui.DestroyWidgets(); }
};
