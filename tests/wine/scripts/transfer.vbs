' Transfers against tolvex-server. Arguments: base URL, work directory,
' HTTPS base URL (host localhost), a URL where nothing listens.
' The work directory holds <progress dir>\progress.txt; the receive
' directory does not exist yet: the job makes it. The driver compares
' the files on disk afterwards.
Option Explicit
Dim failures, o, r, url, work, secure, dead, fso, recvDir, sendFile
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

Sub ExpectFile(what, path, exists)
  If fso.FileExists(path) = exists Then
    WScript.Echo "ok   " & what
  Else
    WScript.Echo "FAIL " & what
    failures = failures + 1
  End If
End Sub

url = WScript.Arguments(0)
work = WScript.Arguments(1)
secure = WScript.Arguments(2)
dead = WScript.Arguments(3)
Set fso = CreateObject("Scripting.FileSystemObject")
Set o = CreateObject("TolvexPro.Tolvex")

' Directory names in Japanese: "受信" (receive) and "進捗" (progress).
recvDir = work & "\" & U("53D7 4FE1")
sendFile = work & "\" & U("9032 6357") & "\progress.txt"

r = o.RecvSO(url, "KEY001", "C001", recvDir & "\orders.txt")
Expect "receive with data", r, 0, ""
ExpectFile "received file in place", recvDir & "\orders.txt", True
ExpectFile "work archive removed", recvDir & "\so.zip", False

' A second receive replaces the file that the first one left.
r = o.RecvSO(url, "KEY001", "C001", recvDir & "\orders.txt")
Expect "receive again over the old file", r, 0, ""

r = o.RecvSO(url, "KEY002", "C002", recvDir & "\none.txt")
Expect "receive without data", r, 0, U("53D7 4FE1 4F5C 696D 6307 793A 30C7 30FC 30BF 7121 3057")
ExpectFile "empty file left for no data", recvDir & "\none.txt", True

r = o.SendProgress(url, "KEY001", "C001", sendFile)
Expect "send", r, 0, ""
ExpectFile "send work archive removed", work & "\" & U("9032 6357") & "\progress.zip", False

Dim T90 : T90 = U("30B5 30FC 30D0 30FC 304B 3089 306E 30A8 30E9 30FC 8FD4 7B54")
r = o.RecvSO(url, "WRONGKEY", "C001", recvDir & "\bad.txt")
Expect "receive with a wrong key: server error reply", r, 90, T90
r = o.SendProgress(url, "WRONGKEY", "C001", sendFile)
Expect "send with a wrong key: server error reply", r, 90, T90
r = o.RecvSO(url, "KEY001", "C999", recvDir & "\bad.txt")
Expect "receive for an unknown company", r, 90, T90

Dim T9 : T9 = U("30DD 30B9 30C8 5B9F 884C 30A8 30E9 30FC")
r = o.RecvSO(dead, "KEY001", "C001", recvDir & "\dead.txt")
Expect "receive from a dead port: post failure", r, 9, T9
r = o.SendProgress(dead, "KEY001", "C001", sendFile)
Expect "send to a dead port: post failure", r, 9, T9

r = o.RecvSO(secure, "KEY001", "C001", recvDir & "\secure.txt")
Expect "receive over HTTPS", r, 0, ""
ExpectFile "file received over HTTPS", recvDir & "\secure.txt", True

If failures = 0 Then WScript.Echo "transfer.vbs: all passed"
WScript.Quit failures
