' The helpers the VBScript clients share. Each client is written to the
' prefix after this file (copy_script_clients in tests/wine/script_clients.sh):
' Wine's VBScript runs neither ExecuteGlobal nor the includes of a .wsf.
' A client declares `failures` and `o`, the object Expect reads ErrorMsg of.
Option Explicit

' Wine's VBScript has no ChrW: the Japanese texts come from texts.txt
' (UTF-16) beside this script, one KEY=text a line.
Function LoadTexts()
  Dim here, f, line, d, eq
  here = Left(WScript.ScriptFullName, InStrRev(WScript.ScriptFullName, "\"))
  Set d = CreateObject("Scripting.Dictionary")
  Set f = CreateObject("Scripting.FileSystemObject").OpenTextFile(here & "texts.txt", 1, False, -1)
  Do While Not f.AtEndOfStream
    line = f.ReadLine
    eq = InStr(line, "=")
    If eq > 0 Then d(Left(line, eq - 1)) = Mid(line, eq + 1)
  Loop
  f.Close
  Set LoadTexts = d
End Function
Dim T
Set T = LoadTexts()

Sub Expect(what, got, want, wantMsg)
  If got = want And o.ErrorMsg = wantMsg Then
    WScript.Echo "ok   " & what
  Else
    WScript.Echo "FAIL " & what & ": got " & got & ", wanted " & want & ", ErrorMsg match " & (o.ErrorMsg = wantMsg)
    failures = failures + 1
  End If
End Sub
