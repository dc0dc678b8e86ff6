' Argument checks with literals: each argument arrives as VT_BSTR (or a
' number or Empty as VBScript passes them).
' Arguments: base URL, work directory (holds empty.txt).
' Runs after common.vbs (Option Explicit, the texts T, Expect).
Dim failures, o, r, url, work
failures = 0

url = WScript.Arguments(0)
work = WScript.Arguments(1)
Set o = CreateObject("TolvexPro.Tolvex")

r = o.RecvSO("", "KEY001", "C001", "C:\x.txt")
Expect "empty URL", r, 1, T("T1")
r = o.SendProgress(url, "KEY001", "", "C:\x.txt")
Expect "empty company code", r, 2, T("T2")
r = o.RecvSO(url, "", "C001", "C:\x.txt")
Expect "empty key", r, 3, T("T3")
r = o.RecvSO(url, "KEY001", "C001", 42)
Expect "file a number", r, 4, T("T4")
r = o.SendProgress(url, "KEY001", "C001", work & "\missing.txt")
Expect "missing file", r, 5, T("T5")
r = o.SendProgress(url, "KEY001", "C001", "  " & work & "\empty.txt  ")
Expect "empty file, path trimmed", r, 6, T("T6")

If failures = 0 Then WScript.Echo "args_literals: all passed"
WScript.Quit failures
