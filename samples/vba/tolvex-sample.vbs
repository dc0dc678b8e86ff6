' Tolvex sample in VBScript, the twin of the VBA modules beside it: a
' receive and a send, each result code turned into what happened and what
' to do next.
'
'   cscript //nologo tolvex-sample.vbs URL KEY CODE FOLDER
'
' receives the company's work instructions into FOLDER\orders.txt, then
' sends FOLDER\progress.txt when it exists. Against the sample server of
' the bundle (tolvex-server.exe --root samples\server):
'
'   cscript //nologo tolvex-sample.vbs http://127.0.0.1:8080/ sample-key-C001 C001 C:\work
'
' Run it with the cscript of the bitness whose Tolvex.dll is installed: on
' 64-bit Windows %WINDIR%\System32\cscript.exe is 64-bit and
' %WINDIR%\SysWOW64\cscript.exe is 32-bit.
' Exit status: the first result that is not 0, else 0.
Option Explicit

Const MaxCodeLength = 12
Const MaxKeyLength = 50

' What a result means for the user, and the next step. Compare codes,
' never ErrorMsg's text; only code 0 needs ErrorMsg, to tell "no data"
' from success.
Function InParentheses(errorMsg)
  Dim at
  at = InStr(errorMsg, "(")
  If at > 0 Then InParentheses = " " & Mid(errorMsg, at) Else InParentheses = ""
End Function

Function Advice(rc, errorMsg)
  Select Case rc
    Case 0
      If errorMsg <> "" Then
        Advice = "No data: the server holds nothing for this company now; the file was left empty. Nothing to do; try again later."
      Else
        Advice = "Done."
      End If
    Case 1: Advice = "The server URL is empty. Fill in the order server's URL."
    Case 2: Advice = "The company code is empty. Fill in your company code."
    Case 3: Advice = "The access key is empty. Fill in the key the server's operator gave you."
    Case 4: Advice = "The file is not given as text. Pass the full path as a String, not a cell, a number or an empty value."
    Case 5: Advice = "The progress file cannot be opened. Check the path, and close the file in any program that holds it."
    Case 6: Advice = "The progress file is empty. Write the progress first, then send."
    Case 7: Advice = "The archiver could not pack the file" & InParentheses(errorMsg) & ". Check the file and try again; send the trace to support if it repeats."
    Case 8: Advice = "Packing could not run. Check the disk space and that the folder is writable; repair the Tolvex installation."
    Case 9: Advice = "The server could not be reached (its name, the connection, TLS or the proxy). Check the URL and the network; the trace names the cause."
    Case 11: Advice = "The received archive is damaged" & InParentheses(errorMsg) & ". Try again; tell the server's operator if it repeats."
    Case 12: Advice = "The received data could not be written. Check that the folder exists and is writable, the file is not open elsewhere and the disk is not full."
    Case 90: Advice = "The server refused the request: a wrong key, an unknown company code or a request it rejects. Check code and key with the server's operator."
    Case 91: Advice = "The server stopped answering (four minutes without data). Try again later."
    Case 92: Advice = "The server had no response. Try again later; tell the server's operator if it repeats."
    Case 93: Advice = "The reply is not the order server's. Check the URL: the server's base address, not a web page or a proxy's login page."
    Case 99: Advice = "No result: cancelled, another transfer still running, or an unexpected error. If nobody pressed Cancel, try again; send the trace to support if it repeats."
    Case Else: Advice = "Result " & rc & " is unknown to this sample. Tell support."
  End Select
End Function

Dim firstFailure
firstFailure = 0
Sub Report(what, rc, errorMsg)
  WScript.Echo what & ": " & rc & " - " & Advice(rc, errorMsg)
  If rc <> 0 And firstFailure = 0 Then firstFailure = rc
End Sub

Dim args
Set args = WScript.Arguments
If args.Count <> 4 Then
  WScript.Echo "usage: cscript //nologo tolvex-sample.vbs URL KEY CODE FOLDER"
  WScript.Quit 64
End If
' The component takes its first three arguments as Strings and the file
' as a Variant holding a String, in this order: URL, key, code, file.
Dim url, key, code, folder
url = args(0)
key = args(1)
code = args(2)
folder = args(3)
' The server sees only the first 12 characters of the code and 50 of the key.
If Len(code) > MaxCodeLength Then WScript.Echo "warning: the code is cut to " & Left(code, MaxCodeLength)
If Len(key) > MaxKeyLength Then WScript.Echo "warning: the key is cut to its first " & MaxKeyLength & " characters"

' Error 429 here: no Tolvex.dll of this program's bitness is registered.
Dim t
On Error Resume Next
Set t = CreateObject("TolvexPro.Tolvex")
If Err.Number <> 0 Then
  WScript.Echo "CreateObject: error " & Err.Number & " (" & Err.Description & ") - install the Tolvex MSI of this program's bitness."
  WScript.Quit 1
End If
On Error GoTo 0

Dim target, rc
target = folder & "\orders.txt"
rc = t.RecvSO(url, key, code, target)
Report "RecvSO " & target, rc, t.ErrorMsg

Dim progress
progress = folder & "\progress.txt"
If CreateObject("Scripting.FileSystemObject").FileExists(progress) Then
  rc = t.SendProgress(url, key, code, progress)
  Report "SendProgress " & progress, rc, t.ErrorMsg
End If

WScript.Quit firstFailure
