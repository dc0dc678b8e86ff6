// A receive and a send from JScript. Arguments: base URL, work directory.
var failures = 0;
var url = WScript.Arguments(0);
var work = WScript.Arguments(1);
var o = new ActiveXObject("TolvexPro.Tolvex");
var fso = new ActiveXObject("Scripting.FileSystemObject");

function expect(what, ok) {
  WScript.Echo((ok ? "ok   " : "FAIL ") + what);
  if (!ok) failures++;
}

var r = o.RecvSO(url, "KEY001", "C001", work + "\\js-orders.txt");
expect("JScript receive returns 0 (got " + r + ")", r === 0 && o.ErrorMsg === "");
expect("JScript received file exists", fso.FileExists(work + "\\js-orders.txt"));
r = o.SendProgress(url, "KEY001", "C001", work + "\\\u9032\u6357\\progress.txt");
expect("JScript send returns 0 (got " + r + ")", r === 0 && o.ErrorMsg === "");

if (failures === 0) WScript.Echo("transfer.js: all passed");
WScript.Quit(failures);
