// A receive and a send from JScript. Arguments: base URL, work directory,
// and "ja" for the client of a Japanese Windows: the company's code and key
// hold kana and kanji, full- and half-width, and the caller's files have
// Japanese names in a directory of Japanese name: <work>\受注\注文.txt is
// received, <work>\受注\進捗報告.txt (the driver puts it there) sent.
var failures = 0;
var url = WScript.Arguments(0);
var work = WScript.Arguments(1);
var ja = WScript.Arguments.length > 2 && WScript.Arguments(2) === "ja";
var o = new ActiveXObject("TolvexPro.Tolvex");
var fso = new ActiveXObject("Scripting.FileSystemObject");

// テスト商事ｶﾅ, 表ｷｰ鍵-受注
var code = ja ? "\u30c6\u30b9\u30c8\u5546\u4e8b\uff76\uff85" : "C001";
var key = ja ? "\u8868\uff77\uff70\u9375-\u53d7\u6ce8" : "KEY001";
var dir = ja ? work + "\\\u53d7\u6ce8" : work;
var recvFile = ja ? dir + "\\\u6ce8\u6587.txt" : work + "\\js-orders.txt";
var sendFile = ja ? dir + "\\\u9032\u6357\u5831\u544a.txt" : work + "\\\u9032\u6357\\progress.txt";

function expect(what, ok) {
  WScript.Echo((ok ? "ok   " : "FAIL ") + what);
  if (!ok) failures++;
}

var r = o.RecvSO(url, key, code, recvFile);
expect("JScript receive returns 0 (got " + r + ")", r === 0 && o.ErrorMsg === "");
expect("JScript received file exists", fso.FileExists(recvFile));
r = o.SendProgress(url, key, code, sendFile);
expect("JScript send returns 0 (got " + r + ")", r === 0 && o.ErrorMsg === "");
if (ja) {
  // The server tells the companies apart by the whole key.
  r = o.RecvSO(url, "KEY001", code, dir + "\\bad.txt");
  expect("another company's key: server error reply (got " + r + ")", r === 90);
}

if (failures === 0) WScript.Echo("transfer.js: all passed");
WScript.Quit(failures);
