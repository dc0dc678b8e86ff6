' Argument checks 1 to 6 with every value held in a script variable, so
' each argument arrives as VT_BYREF|VT_VARIANT.
' Arguments: base URL, work directory (holds empty.txt).
Option Explicit
Dim failures, o, url, key, code, file, r, work
failures = 0

Function U(hex)
  Dim parts, i, s
  s = ""
  parts = Split(hex, " ")
  For i = 0 To UBound(parts)
    s = s & ChrW(CLng("&H" & parts(i)))
  Next
  U = s
End Function

Sub Expect(what, got, want, wantMsg)
  If got = want And o.ErrorMsg = wantMsg Then
    WScript.Echo "ok   " & what
  Else
    WScript.Echo "FAIL " & what & ": got " & got & ", wanted " & want & ", ErrorMsg match " & (o.ErrorMsg = wantMsg)
    failures = failures + 1
  End If
End Sub

Dim T1, T2, T3, T4, T5, T6
T1 = U("767A 6CE8 5074 30B5 30FC 30D0 30A2 30C9 30EC 30B9 30A8 30E9 30FC")
T2 = U("53D7 6CE8 4F1A 793E 30B3 30FC 30C9 30A8 30E9 30FC")
T3 = U("30B5 30FC 30D0 30A2 30AF 30BB 30B9 30AD 30FC 30A8 30E9 30FC")
T4 = U("30ED 30FC 30AB 30EB 9001 4FE1 30D5 30A1 30A3 30EB 540D 30A8 30E9 30FC")
T5 = U("30ED 30FC 30AB 30EB 9001 4FE1 30D5 30A1 30A3 30EB 672A 767A 898B 30A8 30E9 30FC")
T6 = U("30ED 30FC 30AB 30EB 9001 4FE1 30D5 30A1 30A3 30EB 30EC 30F3 30B0 30B9 30A8 30E9 30FC")

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
