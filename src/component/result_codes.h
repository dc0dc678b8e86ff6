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
  std::u16string_view text;  // ErrorMsg
  std::string_view cause;    // plain English for the trace when the job named none
};

// Code 0 has two texts: the plain success and "no data for the company".
inline constexpr std::u16string_view kTextNoData = u"受信作業指示データ無し";
inline constexpr std::u16string_view kPackErrorPrefix = u"ファイル圧縮エラー(";
inline constexpr std::u16string_view kUnpackErrorPrefix = u"ファイル解凍エラー(";
inline constexpr std::u16string_view kControlTextSuffix = u")";

// Every code in use with its fixed text (for 7 and 11, the fixed prefix is
// built by ControlErrorText; the table holds the prefix) and the words the
// trace gives as its cause.
inline constexpr ResultEntry kResultTable[] = {
    {kResultOk, u"", ""},
    {kResultBadUrl, u"発注側サーバアドレスエラー", "the server URL is empty"},
    {kResultBadCompanyCode, u"受注会社コードエラー", "the company code is empty"},
    {kResultBadAccessKey, u"サーバアクセスキーエラー", "the access key is empty"},
    {kResultBadLocalFile, u"ローカル送信ファィル名エラー", "the file argument is not a file name"},
    {kResultLocalFileNotFound, u"ローカル送信ファィル未発見エラー",
     "the progress file cannot be opened for reading"},
    {kResultLocalFileEmpty, u"ローカル送信ファィルレングスエラー", "the progress file is empty"},
    {kResultPackReported, kPackErrorPrefix, "the archiver reported an error while packing"},
    {kResultPackFailed, u"ファイル圧縮実行エラー", "packing failed or left no usable archive"},
    {kResultPostFailed, u"ポスト実行エラー", "the HTTP post failed"},
    {kResultUnpackReported, kUnpackErrorPrefix, "the archiver reported an error while unpacking"},
    {kResultUnpackFailed, u"ファイル解凍実行エラー",
     "unpacking failed, or its file could not be written or put in place"},
    {kResultServerError, u"サーバーからのエラー返答", "the server answered with its error status"},
    {kResultTimeout, u"応答タイムアウト", "the server did not answer in time"},
    {kResultNoResponse, u"無応答エラー", "the server reported no response"},
    {kResultInvalidReply, u"サーバーからの不正返答", "the server's reply is not understood"},
    {kResultNoOutcome, u"", "no outcome: the call was cancelled, or an unexpected error ended it"},
};

// The fixed text of a code; "" for a code outside the table.
std::u16string_view ResultText(std::int16_t code);

// Plain words for a result code whose job named no cause of its own;
// "unknown result" for a code outside the table.
std::string_view DefaultCause(std::int16_t result);

// "ファイル圧縮エラー(" / "ファイル解凍エラー(" + the control's text + ")".
std::u16string ControlErrorText(std::int16_t code, std::u16string_view control_text);

}  // namespace tolvex
