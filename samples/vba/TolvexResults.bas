Attribute VB_Name = "TolvexResults"
' What each result of RecvSO and SendProgress means for the user and what
' to do next (Advice), whether unattended code may try again (ShouldRetry),
' and the data a failed receive kept beside the file (KeptData). Used by
' TolvexLateBound and TolvexEarlyBound; the same table as
' docs\REFERENCE.md, "Result codes". TolvexResults_ja.bas is the same
' module in Japanese, for a Windows whose language for non-Unicode
' programs is Japanese.
'
' Compare codes, never ErrorMsg's text: the text is Japanese, and the
' editor of an Office in another language cannot even hold it. Only code 0
' needs ErrorMsg, to tell "no data" from success:
'     If rc = 0 And t.ErrorMsg <> "" Then   ' no data: the file is now empty
Option Explicit

Public Const MaxCodeLength As Integer = 12   ' the server sees only this much of the code
Public Const MaxKeyLength As Integer = 50    ' and of the key

' ---- begin generated: advice (from the project's result-code table; do not edit by hand) ----
' What a result means and what to do next, as a message for the user.
' errorMsg is the object's ErrorMsg after the call: it tells "no data"
' from success when the code is 0, and carries the archiver's text (7, 11).
Public Function Advice(ByVal rc As Integer, ByVal errorMsg As String) As String
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
Public Function ShouldRetry(ByVal rc As Integer, Optional ByVal receivedFile As String = "") As Boolean
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
Public Function KeptData(ByVal file As String) As String
  Dim folder As String, found As String, cut As Long
  cut = InStrRev(file, "\")
  If InStrRev(file, "/") > cut Then cut = InStrRev(file, "/")
  folder = Left$(file, cut)
  On Error Resume Next
  found = Dir$(file & ".received-*")
  If found = "" Then found = Dir$(folder & "received-*-*.dat")
  If found = "" Then found = Dir$(folder & "received-*-*.zip")
  On Error GoTo 0
  If found <> "" Then KeptData = folder & found
End Function

Private Function InParentheses(ByVal errorMsg As String) As String
  Dim at As Long
  at = InStr(errorMsg, "(")
  If at > 0 Then InParentheses = " " & Mid(errorMsg, at) Else InParentheses = ""
End Function
' ---- end generated: advice ----
