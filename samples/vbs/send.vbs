' Tolvex sample in VBScript: send a progress file. The twin of
' SendProgressFile in samples\vba\TolvexLateBound.bas.
'
'   cscript //nologo send.vbs [URL KEY CODE FILE]
'
' Without arguments it sends samples\client\progress.txt of the bundle to
' the bundle's sample server (tolvex-server.exe --root samples\server
' --listen 127.0.0.1:8080) for company C001, which stores it under
' samples\server\inbox\C001\. Where that file is missing it writes a
' small one first and says so.
' Use the cscript of the installed Tolvex's bitness: on 64-bit Windows
' "cscript" is 64-bit (Tolvex-x64.msi) and %WINDIR%\SysWOW64\cscript.exe
' 32-bit (Tolvex-x86.msi).
' Exit status: the result code; 1 when Tolvex cannot be created, 64 for
' wrong arguments.
Option Explicit

Const DefaultUrl = "http://127.0.0.1:8080/"
Const DefaultKey = "sample-key-C001"
Const DefaultCode = "C001"
Const MaxCodeLength = 12
Const MaxKeyLength = 50

Dim fso
Set fso = CreateObject("Scripting.FileSystemObject")

' ---- begin generated: helpers (shared by the VBScript samples; do not edit by hand) ----
' The object, or Nothing after saying why it cannot be made. Error 429
' ("ActiveX component can't create object") means no Tolvex.dll is
' registered for this script host's bitness.
Function NewTolvex()
  Dim bits, other
  Set NewTolvex = Nothing
  On Error Resume Next
  Set NewTolvex = CreateObject("TolvexPro.Tolvex")
  If Err.Number = 0 Then Exit Function
  WScript.Echo "CreateObject(""TolvexPro.Tolvex""): error " & Err.Number & " (" & Err.Description & ")"
  On Error GoTo 0
  If CreateObject("WScript.Shell").Environment("Process")("PROCESSOR_ARCHITECTURE") = "x86" Then
    bits = "32-bit": other = "Tolvex-x86.msi"
  Else
    bits = "64-bit": other = "Tolvex-x64.msi"
  End If
  WScript.Echo "No Tolvex is registered for this " & bits & " cscript. Install " & other & _
    " (on 64-bit Windows simply install both packages), or run the cscript of the other bitness:" & _
    " cscript (64-bit) or %WINDIR%\SysWOW64\cscript.exe (32-bit)."
End Function

' The sample data folder of the bundle: samples\client beside this folder.
Function SampleFolder()
  SampleFolder = fso.BuildPath(fso.GetParentFolderName(fso.GetParentFolderName(WScript.ScriptFullName)), "client")
End Function

Sub WarnAboutLengths(key, code)
  If Len(code) > MaxCodeLength Then WScript.Echo "warning: the server reads only " & Left(code, MaxCodeLength) & " of the code"
  If Len(key) > MaxKeyLength Then WScript.Echo "warning: the server reads only the first " & MaxKeyLength & " characters of the key"
End Sub
' ---- end generated: helpers ----

' ---- begin generated: advice (from the project's result-code table; do not edit by hand) ----
' What a result means and what to do next, as a message for the user.
' errorMsg is the object's ErrorMsg after the call: it tells "no data"
' from success when the code is 0, and carries the archiver's text (7, 11).
Function Advice(rc, errorMsg)
  Select Case rc
    Case 0
      If errorMsg <> "" Then
        Advice = "No data: the server holds nothing for this company now. The file was emptied (0 " & _
            "bytes); whatever it held before is gone. Nothing to do; receive again at the " & _
            "usual interval. Take what a receive brought before the next one, which may " & _
            "empty the file."
      Else
        Advice = "Done."
      End If
    Case 1
      Advice = "The server URL is empty. Fill in the order server's base URL, such as " & _
          "http://orders.example.co.jp/app/."
    Case 2
      Advice = "The company code is empty, or it cannot be a file name. Fill in your company " & _
          "code as the server's operator gave it."
    Case 3
      Advice = "The access key is empty. Fill in the key the server's operator gave you."
    Case 4
      Advice = "The file is not given as text. Pass the full path as a String: " & _
          "CStr(Range(""B1"").Value)."
    Case 5
      Advice = "The progress file cannot be opened. Check the path, and close the file in any " & _
          "program that holds it."
    Case 6
      Advice = "The progress file is empty (0 bytes). Write the progress first, then send."
    Case 7
      Advice = "The archiver could not pack the file" & _
          InParentheses(errorMsg) & _
          ". Check the file; send the trace to support if it repeats."
    Case 8
      Advice = "Packing could not run. Check that the file's folder is writable and the disk " & _
          "has space, then send again."
    Case 9
      Advice = "The server could not be reached, or its reply was cut off. Check the URL and " & _
          "the network; the trace names the cause."
    Case 11
      Advice = "The received archive is damaged" & _
          InParentheses(errorMsg) & _
          ". The archive was kept beside the file as FILE.received-YYYYMMDD-HHMMSS.zip: " & _
          "keep it and tell the server's operator. Do not simply receive again: the server " & _
          "may not send the same data twice."
    Case 12
      Advice = "The received data could not be written or put in place. If the server had sent " & _
          "data, it was kept beside the file as FILE.received-YYYYMMDD-HHMMSS (or .zip); " & _
          "the trace names it. Fix the folder or the file, move the kept data into place, " & _
          "then receive again."
    Case 90
      Advice = "The server refused the request. Check the URL, the code and the key with the " & _
          "server's operator; the trace shows the reply."
    Case 91
      Advice = "The server stopped answering: four minutes without a byte either way. Try again " & _
          "later. If the data had fully arrived, it was kept beside the file as " & _
          "FILE.received-YYYYMMDD-HHMMSS.zip: take it first."
    Case 92
      Advice = "The server had no response. Try again later; tell the server's operator if it repeats."
    Case 93
      Advice = "The reply is not the order server's. Check the URL (the server's base address, " & _
          "as its operator gave it); the trace shows the reply and a redirect's Location."
    Case 99
      Advice = "No result: cancelled, another transfer still running, or an unexpected error. " & _
          "If nobody pressed Cancel, try again. If the data had fully arrived, it was kept " & _
          "beside the file as FILE.received-YYYYMMDD-HHMMSS.zip: take it first. Send the " & _
          "trace to support if it repeats."
    Case Else
      Advice = "Result " & rc & " is unknown to this module. Tell support."
  End Select
End Function

' Whether code that runs unattended may make the same call again later
' (codes 8, 9, 91, 92, 99). For a receive, give its file: data that a failed
' receive kept beside it (KeptData) needs a person first, so no retry then.
Function ShouldRetry(rc, receivedFile)
  ShouldRetry = False
  If receivedFile <> "" Then
    If KeptData(receivedFile) <> "" Then Exit Function
  End If
  Select Case rc
    Case 8, 9, 91, 92, 99
      ShouldRetry = True
  End Select
End Function

' The data a failed receive kept beside FILE, "" when there is none:
' FILE.received-YYYYMMDD-HHMMSS, with .zip when it is the received archive,
' or received-YYYYMMDD-HHMMSS-CODE.dat (.zip) in the same folder where that
' name would be too long. Move it into place or hand it on; nothing deletes it.
Function KeptData(file)
  Dim fso, folder, prefix, f
  KeptData = ""
  Set fso = CreateObject("Scripting.FileSystemObject")
  folder = fso.GetParentFolderName(file)
  If folder = "" Or Not fso.FolderExists(folder) Then Exit Function
  prefix = LCase(fso.GetFileName(file)) & ".received-"
  For Each f In fso.GetFolder(folder).Files
    If Left(LCase(f.Name), Len(prefix)) = prefix Or _
       (Left(LCase(f.Name), 9) = "received-" And (LCase(Right(f.Name, 4)) = ".zip" Or LCase(Right(f.Name, 4)) = ".dat")) Then
      KeptData = f.Path
      Exit Function
    End If
  Next
End Function

Function InParentheses(errorMsg)
  Dim at
  at = InStr(errorMsg, "(")
  If at > 0 Then InParentheses = " " & Mid(errorMsg, at) Else InParentheses = ""
End Function
' ---- end generated: advice ----

Dim args, url, key, code, source
Set args = WScript.Arguments
If args.Count = 4 Then
  url = args(0): key = args(1): code = args(2): source = args(3)
ElseIf args.Count = 0 Then
  url = DefaultUrl: key = DefaultKey: code = DefaultCode
  source = fso.BuildPath(SampleFolder(), "progress.txt")
  If Not fso.FileExists(source) Then
    If Not fso.FolderExists(SampleFolder()) Then fso.CreateFolder SampleFolder()
    Dim made
    Set made = fso.CreateTextFile(source, False)
    made.WriteLine "order,step,state,updated"
    made.WriteLine "W2026-1201,cutting,done," & Year(Now) & "-" & Right("0" & Month(Now), 2) & "-" & Right("0" & Day(Now), 2)
    made.Close
    WScript.Echo "No progress file was there: wrote a sample one to " & source
  End If
Else
  WScript.Echo "usage: cscript //nologo send.vbs [URL KEY CODE FILE]"
  WScript.Quit 64
End If
WarnAboutLengths key, code

Dim t, rc
Set t = NewTolvex()
If t Is Nothing Then WScript.Quit 1
rc = t.SendProgress(url, key, code, source)
WScript.Echo "SendProgress " & source & ": " & rc & " - " & Advice(rc, t.ErrorMsg)
If rc <> 0 Then
  If ShouldRetry(rc, "") Then
    WScript.Echo "Unattended code may try this call again later."
  Else
    WScript.Echo "Unattended code should not simply try again: a person must act first."
  End If
End If
WScript.Quit rc
