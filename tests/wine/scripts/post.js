// Calls whose post runs long, each followed by a normal call where the
// mode says so. Arguments: MODE, PERIOD, URL of the silent or slow
// server, URL of a normal server, work directory (holds orders.txt and
// progress.txt; the driver compares the files afterwards). Modes:
//   timeout   silent server, TolvexTestHooks.dll with
//             TOLVEX_RESPONSE_PERIOD_MS=PERIOD: 91 after four periods
//   slow      slow server, the same with a longer PERIOD: no timeout
//   trickle   slower server whose reply outlasts four periods while its
//             bytes keep coming: no timeout either
//   cancel    silent server, the driver presses Cancel during the receive
//   close     silent server, the driver gives the close command during
//             the send
//   shown     slow server, the driver takes a screenshot meanwhile
//   large     a receive and a send of a large file (LIVE = ODD)
//   hostile   a server whose archive holds C001.dat beside .bashrc,
//             sub\evil.txt and orders.txt (tolvex-server --reply-file);
//             the work directory also holds the user's own C001.dat
//             and so.zip: only orders.txt may change
//   refused   ODD cuts its reply short of its Content-Length, LIVE
//             answers with a redirect: 9, then 93 for a receive and 90 for
//             a send, and orders.txt as it was
var failures = 0;
var mode = WScript.Arguments(0);
var period = parseInt(WScript.Arguments(1), 10);
var odd = WScript.Arguments(2);
var live = WScript.Arguments(3);
var work = WScript.Arguments(4);
var o = new ActiveXObject("TolvexPro.Tolvex");
var r;
var fso = new ActiveXObject("Scripting.FileSystemObject");
var kTimeoutText = "\u5fdc\u7b54\u30bf\u30a4\u30e0\u30a2\u30a6\u30c8";

function expect(what, ok) {
  WScript.Echo((ok ? "ok   " : "FAIL ") + what);
  if (!ok) failures++;
}

// Runs one call; returns [result, elapsed ms].
function timed(call) {
  var start = new Date().getTime();
  var r = call();
  return [r, new Date().getTime() - start];
}

// Nothing but the caller's files: no work archive, no work directory (the
// work directory holds no directory of its own; Wine's JScript cannot
// enumerate a folder collection, but it can count it).
function onlyCallersFiles() {
  return fso.GetFolder(work).SubFolders.Count === 0 && !fso.FileExists(work + "\\progress.zip") &&
         !fso.FileExists(work + "\\so.zip");
}

function recv(url, file) {
  return function () { return o.RecvSO(url, "KEY001", "C001", work + "\\" + file); };
}
function send(url) {
  return function () { return o.SendProgress(url, "KEY001", "C001", work + "\\progress.txt"); };
}

// The fourth period ends the call, never an earlier one; how much later
// is the machine's load (latency is measured in bench/).
function expectTimeout(what, got) {
  expect(what + ": 91 with the timeout text (got " + got[0] + ")",
         got[0] === 91 && o.ErrorMsg === kTimeoutText);
  expect(what + ": not before four periods (" + got[1] + " ms, period " + period + ")",
         got[1] >= 4 * period - 50);
}

if (mode === "timeout") {
  expectTimeout("receive from a silent server", timed(recv(odd, "orders.txt")));
  expectTimeout("send to a silent server", timed(send(odd)));
  expect("nothing left behind after the timeouts", onlyCallersFiles());
  r = o.RecvSO(live, "KEY001", "C001", work + "\\fresh.txt");
  expect("receive right after the timeouts (got " + r + ")", r === 0 && o.ErrorMsg === "");
  r = o.SendProgress(live, "KEY001", "C001", work + "\\progress.txt");
  expect("send right after the timeouts (got " + r + ")", r === 0 && o.ErrorMsg === "");
  expect("nothing left behind after the normal calls", onlyCallersFiles());
} else if (mode === "slow") {
  var got = timed(recv(odd, "slow.txt"));
  expect("slow but live reply: 0 (got " + got[0] + ", ErrorMsg '" + o.ErrorMsg + "')",
         got[0] === 0 && o.ErrorMsg === "");
  expect("slow reply outlasted a period without timing out (" + got[1] + " ms, period " +
         period + ")", got[1] > period);
} else if (mode === "trickle") {
  var got = timed(recv(odd, "trickled.txt"));
  expect("reply trickling past four periods: 0 (got " + got[0] + ", ErrorMsg '" + o.ErrorMsg +
         "')", got[0] === 0 && o.ErrorMsg === "");
  expect("it lasted longer than four periods (" + got[1] + " ms, period " + period + ")",
         got[1] > 4 * period);
} else if (mode === "cancel" || mode === "close") {
  var what = mode === "cancel" ? "Cancel during the receive" : "close command during the send";
  r = mode === "cancel" ? recv(odd, "orders.txt")() : send(odd)();
  expect(what + ": 99, empty ErrorMsg (got " + r + ", ErrorMsg '" + o.ErrorMsg + "')",
         r === 99 && o.ErrorMsg === "");
  if (mode === "close") {
    expect("nothing left behind after the close command", onlyCallersFiles());
    r = send(live)();
  } else {
    r = recv(live, "fresh.txt")();
  }
  expect("the same call right after (got " + r + ")", r === 0 && o.ErrorMsg === "");
} else if (mode === "hostile") {
  var mine = ["C001.dat", "so.zip"];
  for (var i = 0; i < mine.length; i++) {
    var f = fso.CreateTextFile(work + "\\" + mine[i], true);
    f.Write("the user's own");
    f.Close();
  }
  r = recv(odd, "orders.txt")();
  expect("receive of a hostile archive (got " + r + ")", r === 0 && o.ErrorMsg === "");
  expect("the other members are discarded",
         !fso.FileExists(work + "\\.bashrc") && fso.GetFolder(work).SubFolders.Count === 0);
  for (var j = 0; j < mine.length; j++) {
    var t = fso.OpenTextFile(work + "\\" + mine[j], 1);
    expect("the user's own " + mine[j] + " is untouched", t.ReadAll() === "the user's own");
    t.Close();
  }
  var got = fso.OpenTextFile(work + "\\orders.txt", 1);
  expect("the caller's file holds the data member", got.ReadAll() === "new orders\r\n");
  got.Close();
} else if (mode === "refused") {
  r = recv(odd, "orders.txt")();
  expect("a receive whose reply ends short of its length: 9 (got " + r + ")", r === 9);
  r = recv(live, "orders.txt")();
  expect("a receive answered by a redirect: 93 (got " + r + ")", r === 93);
  r = send(live)();
  expect("a send answered by a redirect: 90 (got " + r + ")", r === 90);
  var kept = fso.OpenTextFile(work + "\\orders.txt", 1);
  expect("the caller's file is as it was", kept.ReadAll() === "old orders\r\n");
  kept.Close();
  expect("nothing left behind", onlyCallersFiles());
} else if (mode === "large") {
  r = recv(live, "large.txt")();
  expect("large receive (got " + r + ", ErrorMsg '" + o.ErrorMsg + "')",
         r === 0 && o.ErrorMsg === "");
  r = send(live)();
  expect("large send (got " + r + ", ErrorMsg '" + o.ErrorMsg + "')", r === 0 && o.ErrorMsg === "");
  expect("nothing left behind after the large calls", onlyCallersFiles());
} else if (mode === "shown") {
  r = recv(odd, "slow.txt")();
  expect("receive while the screenshot is taken (got " + r + ")", r === 0 && o.ErrorMsg === "");
} else {
  expect("known mode " + mode, false);
}

if (failures === 0) WScript.Echo("post.js " + mode + ": all passed");
WScript.Quit(failures);
