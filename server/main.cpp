// tolvex-server: the order server's side of the servlet protocol, for
// trying the client without the real server and for end-to-end tests.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <thread>

#include "order_server.h"
#include "stop_request.h"

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

  StopRequest stop_request;

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
    stop_request.Wait();
    server.Stop();
  });
  const bool served = server.Run();
  // Run can also end on its own; wake the stopper so it can be joined.
  stop_request.Release();
  stopper.join();
  return served ? 0 : 1;
}
