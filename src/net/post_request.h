#pragma once
#include <cstdint>
#include <string>
#include <vector>
#include "net/http_session.h"
#include "net/server_address.h"
#include "net/status_display.h"
namespace tolvex {
using Bytes = std::vector<std::uint8_t>;
bool PostRequest(HttpSession& http, const ServerAddress& address, StatusDisplay& display,
                 const std::u16string& body, Bytes& ResponseBytes);
}
