// tolvex-server: the order server's side of the servlet protocol, for
// trying the client without the real server and for end-to-end tests.
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <thread>

#include "order_server.h"

int main(int argc, char** argv) {
  using namespace tolvex::server;
  ServerOptions options;
  try {
    options = ParseServerOptions(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::exception& e) {
    std::cerr << "tolvex-server: " << e.what() << " (see --help)\n";
    return 2;
  }
  if (options.help) {
    std::cout << kUsage;
    return 0;
  }
  if (options.version) {
    std::cout << kServerVersion << '\n';
    return 0;
  }
  // A server that would refuse every request does not start.
  if (const std::string problem = CheckServerSetup(options); !problem.empty()) {
    std::cerr << "tolvex-server: " << problem << '\n';
    return 2;
  }

  // Signals are taken by one thread so that stopping runs outside a handler.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  OrderServer server(options);
  errno = 0;
  const int port = server.Bind();
  if (port <= 0) {
    const int bind_error = errno;
    std::cerr << "tolvex-server: cannot listen on " << options.listen_host << ':'
              << options.listen_port;
    if (!server.Valid()) {
      std::cerr << " (check the TLS files)";
    } else if (bind_error != 0) {
      std::cerr << ": " << std::strerror(bind_error);
    }
    std::cerr << '\n';
    return 1;
  }
  const bool v6 = options.listen_host.find(':') != std::string::npos;
  std::printf("listening on %s://%s%s%s:%d\n", server.Secure() ? "https" : "http", v6 ? "[" : "",
              options.listen_host.c_str(), v6 ? "]" : "", port);
  std::fflush(stdout);

  std::thread stopper([&] {
    int received = 0;
    sigwait(&stop_signals, &received);
    server.Stop();
  });
  const bool served = server.Run();
  // Run can also end on its own; wake the stopper so it can be joined.
  pthread_kill(stopper.native_handle(), SIGTERM);
  stopper.join();
  return served ? 0 : 1;
}
