' Transfers against tolvex-server. Arguments: base URL, work directory,
' HTTPS base URL (host localhost), a URL where nothing listens; optional:
' an HTTPS URL whose certificate no trusted CA signed, and one whose
' certificate, signed by the trusted CA, names another host.
' The work directory holds <progress dir>\progress.txt; the receive
' directory does not exist yet: the job makes it. The driver compares
' the files on disk afterwards.
' Runs after common.vbs (Option Explicit, the texts T, Expect).
Dim failures, o, r, url, work, secure, dead, fso, recvDir, sendFile
failures = 0

Sub ExpectFile(what, path, exists)
  If fso.FileExists(path) = exists Then
    WScript.Echo "ok   " & what
  Else
    WScript.Echo "FAIL " & what
    failures = failures + 1
  End If
End Sub

' The calls work in .tolvex-* directories of their own beside the caller's
' file; these directories hold no other directory, so any one left is one.
Sub ExpectNoDirectory(what, path)
  Dim n : n = fso.GetFolder(path).SubFolders.Count
  If n = 0 Then
    WScript.Echo "ok   " & what
  Else
    WScript.Echo "FAIL " & what & ": " & n & " directory(ies) left in " & path
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
recvDir = work & "\" & T("RECVDIR")
sendFile = work & "\" & T("PROGRESSDIR") & "\progress.txt"

r = o.RecvSO(url, "KEY001", "C001", recvDir & "\orders.txt")
Expect "receive with data", r, 0, ""
ExpectFile "received file in place", recvDir & "\orders.txt", True
ExpectFile "work archive removed", recvDir & "\so.zip", False
ExpectNoDirectory "no work directory left by the receive", recvDir

' A second receive replaces the file that the first one left.
r = o.RecvSO(url, "KEY001", "C001", recvDir & "\orders.txt")
Expect "receive again over the old file", r, 0, ""

r = o.RecvSO(url, "KEY002", "C002", recvDir & "\none.txt")
Expect "receive without data", r, 0, T("T0NODATA")
ExpectFile "empty file left for no data", recvDir & "\none.txt", True

r = o.SendProgress(url, "KEY001", "C001", sendFile)
Expect "send", r, 0, ""
ExpectFile "send work archive removed", work & "\" & T("PROGRESSDIR") & "\progress.zip", False
ExpectNoDirectory "no work directory left by the send", work & "\" & T("PROGRESSDIR")

Dim T90 : T90 = T("T90")
r = o.RecvSO(url, "WRONGKEY", "C001", recvDir & "\bad.txt")
Expect "receive with a wrong key: server error reply", r, 90, T90
r = o.SendProgress(url, "WRONGKEY", "C001", sendFile)
Expect "send with a wrong key: server error reply", r, 90, T90
r = o.RecvSO(url, "KEY001", "C999", recvDir & "\bad.txt")
Expect "receive for an unknown company", r, 90, T90

Dim T9 : T9 = T("T9")
r = o.RecvSO(dead, "KEY001", "C001", recvDir & "\dead.txt")
Expect "receive from a dead port: post failure", r, 9, T9
r = o.SendProgress(dead, "KEY001", "C001", sendFile)
Expect "send to a dead port: post failure", r, 9, T9

r = o.RecvSO(secure, "KEY001", "C001", recvDir & "\secure.txt")
Expect "receive over HTTPS", r, 0, ""
ExpectFile "file received over HTTPS", recvDir & "\secure.txt", True
If WScript.Arguments.Count > 5 Then
  ' WinINet refuses both, and the call fails as any failed post does.
  r = o.RecvSO(WScript.Arguments(4), "KEY001", "C001", recvDir & "\untrusted.txt")
  Expect "receive over HTTPS from an untrusted certificate: post failure", r, 9, T9
  ExpectFile "nothing received from the untrusted server", recvDir & "\untrusted.txt", False
  r = o.RecvSO(WScript.Arguments(5), "KEY001", "C001", recvDir & "\wronghost.txt")
  Expect "receive over HTTPS from a certificate for another host: post failure", r, 9, T9
  ExpectFile "nothing received from the wrong host", recvDir & "\wronghost.txt", False
End If
ExpectNoDirectory "no work directory left by any call", recvDir
ExpectNoDirectory "no work directory left by any send", work & "\" & T("PROGRESSDIR")

If failures = 0 Then WScript.Echo "transfer.vbs: all passed"
WScript.Quit failures
