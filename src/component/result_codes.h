// The result codes RecvSO and SendProgress return, with the texts left in
// ErrorMsg. Every part of the system takes its codes and texts from here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tolvex {

enum ResultCode : std::int16_t {
  kResultOk = 0,
  kResultBadUrl = 1,
  kResultBadCompanyCode = 2,
  kResultBadAccessKey = 3,
  kResultBadLocalFile = 4,
  kResultLocalFileNotFound = 5,
  kResultLocalFileEmpty = 6,
  kResultPackReported = 7,
  kResultPackFailed = 8,
  kResultPostFailed = 9,
  kResultUnpackReported = 11,
  kResultUnpackFailed = 12,
  kResultServerError = 90,
  kResultTimeout = 91,
  kResultNoResponse = 92,
  kResultInvalidReply = 93,
  kResultNoOutcome = 99,
};

struct ResultEntry {
  std::int16_t code;
  std::u16string_view text;
};

// Code 0 has two texts: the plain success and "no data for the company".
inline constexpr std::u16string_view kTextNoData = u"受信作業指示データ無し";
inline constexpr std::u16string_view kPackErrorPrefix = u"ファイル圧縮エラー(";
inline constexpr std::u16string_view kUnpackErrorPrefix = u"ファイル解凍エラー(";
inline constexpr std::u16string_view kControlTextSuffix = u")";

// Every code in use with its fixed text (for 7 and 11, the fixed prefix is
// built by ControlErrorText; the table holds the prefix).
inline constexpr ResultEntry kResultTable[] = {
    {kResultOk, u""},
    {kResultBadUrl, u"発注側サーバアドレスエラー"},
    {kResultBadCompanyCode, u"受注会社コードエラー"},
    {kResultBadAccessKey, u"サーバアクセスキーエラー"},
    {kResultBadLocalFile, u"ローカル送信ファィル名エラー"},
    {kResultLocalFileNotFound, u"ローカル送信ファィル未発見エラー"},
    {kResultLocalFileEmpty, u"ローカル送信ファィルレングスエラー"},
    {kResultPackReported, kPackErrorPrefix},
    {kResultPackFailed, u"ファイル圧縮実行エラー"},
    {kResultPostFailed, u"ポスト実行エラー"},
    {kResultUnpackReported, kUnpackErrorPrefix},
    {kResultUnpackFailed, u"ファイル解凍実行エラー"},
    {kResultServerError, u"サーバーからのエラー返答"},
    {kResultTimeout, u"応答タイムアウト"},
    {kResultNoResponse, u"無応答エラー"},
    {kResultInvalidReply, u"サーバーからの不正返答"},
    {kResultNoOutcome, u""},
};

// The fixed text of a code; "" for a code outside the table.
std::u16string_view ResultText(std::int16_t code);

// "ファイル圧縮エラー(" / "ファイル解凍エラー(" + the control's text + ")".
std::u16string ControlErrorText(std::int16_t code, std::u16string_view control_text);

}  // namespace tolvex
