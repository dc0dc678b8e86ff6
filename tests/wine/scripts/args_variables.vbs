' Argument checks 1 to 6 with every value held in a script variable, so
' each argument arrives as VT_BYREF|VT_VARIANT.
' Arguments: base URL, work directory (holds empty.txt).
' Runs after common.vbs (Option Explicit, the texts T, Expect).
Dim failures, o, url, key, code, file, r, work
failures = 0

Dim T1, T2, T3, T4, T5, T6
T1 = T("T1")
T2 = T("T2")
T3 = T("T3")
T4 = T("T4")
T5 = T("T5")
T6 = T("T6")

work = WScript.Arguments(1)
Set o = CreateObject("TolvexPro.Tolvex")
key = "KEY001" : code = "C001" : file = work & "\x.txt"

url = "" : r = o.RecvSO(url, key, code, file) : Expect "empty URL", r, 1, T1
url = "   " : r = o.SendProgress(url, key, code, file) : Expect "URL of spaces", r, 1, T1
url = WScript.Arguments(0)
code = "  " : r = o.RecvSO(url, key, code, file) : Expect "company code of spaces", r, 2, T2
code = Empty : r = o.RecvSO(url, key, code, file) : Expect "company code Empty", r, 2, T2
code = "C001"
key = "" : r = o.SendProgress(url, key, code, file) : Expect "empty key", r, 3, T3
key = Null : r = o.RecvSO(url, key, code, file) : Expect "key Null", r, 3, T3
key = "KEY001"
file = Empty : r = o.RecvSO(url, key, code, file) : Expect "file Empty", r, 4, T4
file = Null : r = o.RecvSO(url, key, code, file) : Expect "file Null", r, 4, T4
file = 123 : r = o.SendProgress(url, key, code, file) : Expect "file a number", r, 4, T4
file = "   " : r = o.RecvSO(url, key, code, file) : Expect "file of spaces", r, 4, T4
file = work & "\missing.txt" : r = o.SendProgress(url, key, code, file) : Expect "missing file", r, 5, T5
file = work : r = o.SendProgress(url, key, code, file) : Expect "a directory", r, 5, T5
file = work & "\empty.txt" : r = o.SendProgress(url, key, code, file) : Expect "empty file", r, 6, T6
o.ErrorMsg = "mine"
url = "" : r = o.RecvSO(url, key, code, file) : Expect "ErrorMsg replaced by the next call", r, 1, T1
' The first failing check decides.
url = "" : code = "" : key = "" : file = Empty
r = o.SendProgress(url, key, code, file) : Expect "all bad: the URL decides", r, 1, T1

If failures = 0 Then WScript.Echo "args_variables: all passed"
WScript.Quit failures
