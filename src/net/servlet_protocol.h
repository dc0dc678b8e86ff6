// The servlet protocol: where a job posts, what its 63-character request
// header holds, and what the one-byte reply status means.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "component/bytes.h"
#include "component/job_state.h"

namespace tolvex {

inline constexpr std::u16string_view kServletGetSOData = u"GetSOData";
inline constexpr std::u16string_view kServletPutProgressData = u"PutProgressData";

inline constexpr std::size_t kCompanyCodeWidth = 12;
inline constexpr std::size_t kAccessKeyWidth = 50;
inline constexpr std::size_t kRequestHeaderLength = 1 + kCompanyCodeWidth + kAccessKeyWidth;

// The status a job seeds ResponseBytes with before each post ("8").
inline constexpr std::uint8_t kReplySeed = '8';

// The base URL with "http://" in front unless it starts with "http://" or
// "https://" (case-sensitive), then "servlets/<name>" with one "/" between.
std::u16string BuildPostUrl(std::u16string_view server_url, std::u16string_view servlet);

// ProcessKind, the company code in 12 characters, the key in 50.
std::u16string BuildRequestHeader(const TransferJob& job);

enum class GetSODataReply { Data, NoData, ServerError, NoResponse, Invalid };

GetSODataReply ClassifyGetSODataReply(const Bytes& reply);
// True only for the single byte "0".
bool IsPutProgressDataAccepted(const Bytes& reply);

}  // namespace tolvex
