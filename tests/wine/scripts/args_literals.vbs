' Argument checks with literals: each argument arrives as VT_BSTR (or a
' number or Empty as VBScript passes them).
' Arguments: base URL, work directory (holds empty.txt).
Option Explicit
Dim failures, o, r, url, work
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

url = WScript.Arguments(0)
work = WScript.Arguments(1)
Set o = CreateObject("TolvexPro.Tolvex")

r = o.RecvSO("", "KEY001", "C001", "C:\x.txt")
Expect "empty URL", r, 1, U("767A 6CE8 5074 30B5 30FC 30D0 30A2 30C9 30EC 30B9 30A8 30E9 30FC")
r = o.SendProgress(url, "KEY001", "", "C:\x.txt")
Expect "empty company code", r, 2, U("53D7 6CE8 4F1A 793E 30B3 30FC 30C9 30A8 30E9 30FC")
r = o.RecvSO(url, "", "C001", "C:\x.txt")
Expect "empty key", r, 3, U("30B5 30FC 30D0 30A2 30AF 30BB 30B9 30AD 30FC 30A8 30E9 30FC")
r = o.RecvSO(url, "KEY001", "C001", 42)
Expect "file a number", r, 4, U("30ED 30FC 30AB 30EB 9001 4FE1 30D5 30A1 30A3 30EB 540D 30A8 30E9 30FC")
r = o.SendProgress(url, "KEY001", "C001", work & "\missing.txt")
Expect "missing file", r, 5, U("30ED 30FC 30AB 30EB 9001 4FE1 30D5 30A1 30A3 30EB 672A 767A 898B 30A8 30E9 30FC")
r = o.SendProgress(url, "KEY001", "C001", "  " & work & "\empty.txt  ")
Expect "empty file, path trimmed", r, 6, U("30ED 30FC 30AB 30EB 9001 4FE1 30D5 30A1 30A3 30EB 30EC 30F3 30B0 30B9 30A8 30E9 30FC")

If failures = 0 Then WScript.Echo "args_literals: all passed"
WScript.Quit failures
