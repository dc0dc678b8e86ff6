// Argument checks from JScript: strings arrive as VT_BSTR, numbers as
// VT_I4 or VT_R8. Arguments: base URL, work directory (holds empty.txt).
var failures = 0;
var url = WScript.Arguments(0);
var work = WScript.Arguments(1);
var o = new ActiveXObject("TolvexPro.Tolvex");

var T1 = "\u767A\u6CE8\u5074\u30B5\u30FC\u30D0\u30A2\u30C9\u30EC\u30B9\u30A8\u30E9\u30FC";
var T2 = "\u53D7\u6CE8\u4F1A\u793E\u30B3\u30FC\u30C9\u30A8\u30E9\u30FC";
var T3 = "\u30B5\u30FC\u30D0\u30A2\u30AF\u30BB\u30B9\u30AD\u30FC\u30A8\u30E9\u30FC";
var T4 = "\u30ED\u30FC\u30AB\u30EB\u9001\u4FE1\u30D5\u30A1\u30A3\u30EB\u540D\u30A8\u30E9\u30FC";
var T5 = "\u30ED\u30FC\u30AB\u30EB\u9001\u4FE1\u30D5\u30A1\u30A3\u30EB\u672A\u767A\u898B\u30A8\u30E9\u30FC";
var T6 = "\u30ED\u30FC\u30AB\u30EB\u9001\u4FE1\u30D5\u30A1\u30A3\u30EB\u30EC\u30F3\u30B0\u30B9\u30A8\u30E9\u30FC";

function expect(what, got, want, wantMsg) {
  if (got === want && o.ErrorMsg === wantMsg) {
    WScript.Echo("ok   " + what);
  } else {
    WScript.Echo("FAIL " + what + ": got " + got + ", wanted " + want + ", ErrorMsg " +
                 (o.ErrorMsg === wantMsg ? "matches" : "differs"));
    failures++;
  }
}

expect("empty URL", o.RecvSO("", "KEY001", "C001", "C:\\x.txt"), 1, T1);
expect("URL of spaces", o.SendProgress("  ", "KEY001", "C001", "C:\\x.txt"), 1, T1);
expect("company code of spaces", o.RecvSO(url, "KEY001", "   ", "C:\\x.txt"), 2, T2);
expect("empty key", o.RecvSO(url, "", "C001", "C:\\x.txt"), 3, T3);
expect("file a whole number", o.RecvSO(url, "KEY001", "C001", 7), 4, T4);
expect("file a fraction", o.SendProgress(url, "KEY001", "C001", 2.5), 4, T4);
expect("file null", o.SendProgress(url, "KEY001", "C001", null), 4, T4);
// A number for a String parameter is text: the key check passes on it.
expect("key a number, missing file", o.SendProgress(url, 12345, "C001", work + "\\missing.txt"), 5, T5);
expect("empty file", o.SendProgress(url, "KEY001", "C001", work + "\\empty.txt"), 6, T6);

if (failures === 0) WScript.Echo("args.js: all passed");
WScript.Quit(failures);
