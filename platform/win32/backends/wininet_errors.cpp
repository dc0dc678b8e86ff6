#include "backends/wininet_errors.h"

namespace tolvex::win32 {
namespace {

struct WinInetError {
  std::uint32_t code;
  const char* name;
  const char* words;  // null: the generic words
};

// The errors WinINet's calls report (GetLastError, or dwError of an
// asynchronous completion), in order of their numbers.
constexpr WinInetError kErrors[] = {
    {6, "ERROR_INVALID_HANDLE", "the exchange's handle was closed"},
    {8, "ERROR_NOT_ENOUGH_MEMORY", "out of memory"},
    {87, "ERROR_INVALID_PARAMETER", "a request parameter was refused"},
    {995, "ERROR_OPERATION_ABORTED", "the exchange was cancelled"},
    {12001, "ERROR_INTERNET_OUT_OF_HANDLES", nullptr},
    {12002, "ERROR_INTERNET_TIMEOUT", "the connection timed out"},
    {12003, "ERROR_INTERNET_EXTENDED_ERROR", nullptr},
    {12004, "ERROR_INTERNET_INTERNAL_ERROR", nullptr},
    {12005, "ERROR_INTERNET_INVALID_URL", "the URL cannot be used"},
    {12006, "ERROR_INTERNET_UNRECOGNIZED_SCHEME", "the URL cannot be used"},
    {12007, "ERROR_INTERNET_NAME_NOT_RESOLVED", "the server's name could not be resolved"},
    {12008, "ERROR_INTERNET_PROTOCOL_NOT_FOUND", nullptr},
    {12009, "ERROR_INTERNET_INVALID_OPTION", nullptr},
    {12010, "ERROR_INTERNET_BAD_OPTION_LENGTH", nullptr},
    {12011, "ERROR_INTERNET_OPTION_NOT_SETTABLE", nullptr},
    {12012, "ERROR_INTERNET_SHUTDOWN", nullptr},
    {12013, "ERROR_INTERNET_INCORRECT_USER_NAME", nullptr},
    {12014, "ERROR_INTERNET_INCORRECT_PASSWORD", nullptr},
    {12015, "ERROR_INTERNET_LOGIN_FAILURE", nullptr},
    {12016, "ERROR_INTERNET_INVALID_OPERATION", nullptr},
    {12017, "ERROR_INTERNET_OPERATION_CANCELLED", "the exchange was cancelled"},
    {12018, "ERROR_INTERNET_INCORRECT_HANDLE_TYPE", nullptr},
    {12019, "ERROR_INTERNET_INCORRECT_HANDLE_STATE", nullptr},
    {12020, "ERROR_INTERNET_NOT_PROXY_REQUEST", nullptr},
    {12021, "ERROR_INTERNET_REGISTRY_VALUE_NOT_FOUND", nullptr},
    {12022, "ERROR_INTERNET_BAD_REGISTRY_PARAMETER", nullptr},
    {12023, "ERROR_INTERNET_NO_DIRECT_ACCESS", nullptr},
    {12024, "ERROR_INTERNET_NO_CONTEXT", nullptr},
    {12025, "ERROR_INTERNET_NO_CALLBACK", nullptr},
    {12026, "ERROR_INTERNET_REQUEST_PENDING", nullptr},
    {12027, "ERROR_INTERNET_INCORRECT_FORMAT", nullptr},
    {12028, "ERROR_INTERNET_ITEM_NOT_FOUND", nullptr},
    {12029, "ERROR_INTERNET_CANNOT_CONNECT", "could not connect to the server"},
    {12030, "ERROR_INTERNET_CONNECTION_ABORTED", "the connection was aborted"},
    {12031, "ERROR_INTERNET_CONNECTION_RESET", "the connection was reset"},
    {12032, "ERROR_INTERNET_FORCE_RETRY", nullptr},
    {12033, "ERROR_INTERNET_INVALID_PROXY_REQUEST", nullptr},
    {12034, "ERROR_INTERNET_NEED_UI", nullptr},
    {12036, "ERROR_INTERNET_HANDLE_EXISTS", nullptr},
    {12037, "ERROR_INTERNET_SEC_CERT_DATE_INVALID",
     "TLS verification failed: the server's certificate has expired or is not yet valid"},
    {12038, "ERROR_INTERNET_SEC_CERT_CN_INVALID",
     "TLS verification failed: the server's certificate names another host"},
    {12039, "ERROR_INTERNET_HTTP_TO_HTTPS_ON_REDIR", nullptr},
    {12040, "ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR", nullptr},
    {12041, "ERROR_INTERNET_MIXED_SECURITY", nullptr},
    {12042, "ERROR_INTERNET_CHG_POST_IS_NON_SECURE", nullptr},
    {12043, "ERROR_INTERNET_POST_IS_NON_SECURE", nullptr},
    {12044, "ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED", "the server asks for a client certificate"},
    {12045, "ERROR_INTERNET_INVALID_CA",
     "TLS verification failed: the server's certificate is not trusted"},
    {12046, "ERROR_INTERNET_CLIENT_AUTH_NOT_SETUP", nullptr},
    {12047, "ERROR_INTERNET_ASYNC_THREAD_FAILED", nullptr},
    {12048, "ERROR_INTERNET_REDIRECT_SCHEME_CHANGE", nullptr},
    {12049, "ERROR_INTERNET_DIALOG_PENDING", nullptr},
    {12050, "ERROR_INTERNET_RETRY_DIALOG", nullptr},
    {12052, "ERROR_INTERNET_HTTPS_HTTP_SUBMIT_REDIR", nullptr},
    {12053, "ERROR_INTERNET_INSERT_CDROM", nullptr},
    {12054, "ERROR_INTERNET_FORTEZZA_LOGIN_NEEDED", nullptr},
    {12055, "ERROR_INTERNET_SEC_CERT_ERRORS",
     "TLS verification failed: the server's certificate has errors"},
    {12056, "ERROR_INTERNET_SEC_CERT_NO_REV", nullptr},
    {12057, "ERROR_INTERNET_SEC_CERT_REV_FAILED",
     "TLS verification failed: the revocation check failed"},
    {12150, "ERROR_HTTP_HEADER_NOT_FOUND", nullptr},
    {12151, "ERROR_HTTP_DOWNLEVEL_SERVER", nullptr},
    {12152, "ERROR_HTTP_INVALID_SERVER_RESPONSE", "the server's reply is not HTTP"},
    {12153, "ERROR_HTTP_INVALID_HEADER", nullptr},
    {12154, "ERROR_HTTP_INVALID_QUERY_REQUEST", nullptr},
    {12155, "ERROR_HTTP_HEADER_ALREADY_EXISTS", nullptr},
    {12156, "ERROR_HTTP_REDIRECT_FAILED", nullptr},
    {12157, "ERROR_INTERNET_SECURITY_CHANNEL_ERROR", "the TLS handshake failed"},
    {12158, "ERROR_INTERNET_UNABLE_TO_CACHE_FILE", nullptr},
    {12159, "ERROR_INTERNET_TCPIP_NOT_INSTALLED", nullptr},
    {12160, "ERROR_HTTP_NOT_REDIRECTED", nullptr},
    {12161, "ERROR_HTTP_COOKIE_NEEDS_CONFIRMATION", nullptr},
    {12162, "ERROR_HTTP_COOKIE_DECLINED", nullptr},
    {12163, "ERROR_INTERNET_DISCONNECTED", "the computer is offline"},
    {12164, "ERROR_INTERNET_SERVER_UNREACHABLE", "the server is unreachable"},
    {12165, "ERROR_INTERNET_PROXY_SERVER_UNREACHABLE", "the proxy is unreachable"},
    {12166, "ERROR_INTERNET_BAD_AUTO_PROXY_SCRIPT", nullptr},
    {12167, "ERROR_INTERNET_UNABLE_TO_DOWNLOAD_SCRIPT", nullptr},
    {12168, "ERROR_HTTP_REDIRECT_NEEDS_CONFIRMATION", nullptr},
    {12169, "ERROR_INTERNET_SEC_INVALID_CERT",
     "TLS verification failed: the server's certificate is invalid"},
    {12170, "ERROR_INTERNET_SEC_CERT_REVOKED",
     "TLS verification failed: the server's certificate is revoked"},
    {12171, "ERROR_INTERNET_FAILED_DUETOSECURITYCHECK", nullptr},
    {12172, "ERROR_INTERNET_NOT_INITIALIZED", nullptr},
    {12173, "ERROR_INTERNET_NEED_MSN_SSPI_PKG", nullptr},
    {12174, "ERROR_INTERNET_LOGIN_FAILURE_DISPLAY_ENTITY_BODY", nullptr},
    {12175, "ERROR_INTERNET_DECODING_FAILED", "the reply could not be decoded"},
};

const WinInetError* Find(std::uint32_t code) {
  for (const auto& error : kErrors) {
    if (error.code == code) return &error;
  }
  return nullptr;
}

}  // namespace

std::string_view WinInetErrorName(std::uint32_t code) {
  const WinInetError* error = Find(code);
  return error != nullptr ? error->name : "";
}

std::string_view WinInetErrorWords(std::uint32_t code) {
  const WinInetError* error = Find(code);
  return error != nullptr && error->words != nullptr ? error->words : "the HTTP exchange failed";
}

std::string DescribeWinInetError(std::uint32_t code) {
  std::string text = "WinINet error " + std::to_string(code);
  const std::string_view name = WinInetErrorName(code);
  if (!name.empty()) text += " " + std::string(name);
  return text;
}

}  // namespace tolvex::win32
